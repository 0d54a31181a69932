// transactions.h - the process's transaction and the write of one operation.
//
// The client of a transaction is the process.  Between Begin (19) and End
// (20) or Abort (21), every directory that an operation touches joins the
// transaction with a write transaction of its store; End commits each of
// them.  Files of one directory share one store, so their changes commit
// together or not at all, across a crash too.  Outside a transaction each
// writing operation is a transaction of its own (WriteScope).
#pragma once
#include <cstdint>

#include "recman/engine.h"

namespace recman {

struct WriteScope {
  Directory* dir = nullptr;
  bool own = false;       // a transaction of this operation alone
  bool modified = false;  // set by the operation before its first change
};

int16_t BeginWrite(Directory& dir, WriteScope& scope);
// Commits (status 0) or rolls back the operation's own transaction; inside
// the process transaction a failure after a change rolls the whole
// transaction back.  Returns the final status.
int16_t EndWrite(WriteScope& scope, int16_t status);
// A read inside the process transaction joins it too.
int16_t TouchDirectory(Directory& dir);
// Before a reading operation: joins the process transaction, or reuses the
// directory's read snapshot while nothing was committed since it began (and
// it is younger than kSnapshotMaxAgeMs), or starts a new one.
int16_t BeginRead(Directory& dir);
// Ends the read snapshot (before writes and catalog look-ups).
void EndRead(Directory& dir);
// Stops the thread that ends the snapshots of finished bursts (at exit).
void StopSnapshotWatcher();

int16_t EngineBeginTransaction();
int16_t EngineEndTransaction();
int16_t EngineAbortTransaction();

// Records read inside the transaction (see TransactionRows): kept once they
// were checked and handed to the caller (their data is taken), found again
// by position, replaced by what this process's updates wrote, dropped by its
// deletes and by the transaction's end.
void RememberRow(OpenFile& file, Row&& row);
void RememberRow(OpenFile& file, const Row& row);  // copied only inside a transaction
Row* SeenRow(OpenFile& file, uint32_t pos);
void ForgetRow(OpenFile& file, uint32_t pos);

}  // namespace recman
