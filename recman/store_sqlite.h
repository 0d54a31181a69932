// store_sqlite.h - the SQLite store: one database "recman.db" per folder.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "recman/store.h"

namespace recman {

// Opens the store of a folder kept in SQLite.  With `create` false a folder
// without "recman.db" answers 12.
int16_t OpenSqliteStore(Directory& dir, bool create, std::unique_ptr<Store>& out);

// Copies the folder's database as one consistent state into the file
// `target` (SQLite's online backup: stations go on working meanwhile).
// 0, or a status with `report` saying why.
int16_t BackupSqliteStore(Store& store, const std::string& target, std::string& report);

}  // namespace recman
