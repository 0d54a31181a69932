// store_pg.h - the PostgreSQL store: a data folder's record files on a
// server, for offices whose stations are on several machines.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "recman/store.h"

namespace recman {

// What a folder's "recman.server" says: the libpq connection string and the
// schema that holds the folder (one schema per data folder).
struct ServerSettings {
  std::string connection;
  std::string schema = "recman";
};

// Reads "recman.server": lines of "#" are comments, "schema NAME" names the
// folder's schema, the first other line is the connection string.  false
// with `error` saying why when the file cannot serve.
bool ReadServerFile(const std::string& path, ServerSettings& out, std::string& error);

// Opens the store of a folder kept on a server.  With `create` false a
// schema that does not exist yet answers 12.
int16_t OpenServerStore(Directory& dir, const ServerSettings& settings, bool create,
                        std::unique_ptr<Store>& out);

}  // namespace recman
