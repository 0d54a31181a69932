// statement.h - what the settlement journal tells a clerk: the list of the
// passes, a pass's statement (per property and owner every amount, so that
// a balance can be checked by hand) as text, CSV or an HTML page fit to
// print or to send, and the report of an undo.
//
// Texts are code page 850, in the session's language (each label passes
// through Translate); the HTML page says it is UTF-8, which it is once the
// caller has converted it for output as it does the others.  Amounts are
// euros for people and stored cents in the CSV.
#pragma once
#include <cstdint>
#include <string>

#include "history/undo.h"

enum class StatementFormat { kText, kCsv, kHtml };

// The passes of the journal, newest first (none when the journal is not
// open: no pass was ever journaled there).  Status of the record manager.
int16_t PassListText(std::string& out);

// The statement of the pass `id`, of all its properties or of the property
// `property` (2 packed bytes) only.  0 with `out` filled; otherwise 4 with
// `problem` saying that there is no such pass or that it did not settle
// the property, or the record manager's status.
int16_t StatementText(long id, const std::string& property, StatementFormat format, std::string& out,
                      std::string& problem);

// What an undo of the pass `id` came to, one line per problem.
std::string UndoReportText(long id, const UndoResult& result);
// The message shown while an undo waits for another station.
std::string UndoWaitText();
// The refusal of a pass written by a newer program, whose records this
// one would misread: no reader reports from it and the undo leaves it be.
std::string NewerJournalText(int16_t format);
// "NO EXISTEIX LA LIQUIDACIÓ 12"
std::string NoSuchPassText(long id);
