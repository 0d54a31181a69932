// help.h - the help pages offered with F1 while a field is edited.
//
// On a Windows terminal the topic's HTML page "AJUDA\<topic>.HTM" is opened
// with the desktop's document opener (xdg-open, or the program named by
// "ObreDocument" in section "Sistema" of the station's "VorkTerm.ini"),
// started directly with the page as its only argument; on every other
// terminal the topic's text help file "AJUDA\<topic>.HLP" (relative to the
// suite root, the current directory) is shown in a scrolling window of its
// own.  A Spanish, Galician or Aranese session ("SPA", "GLG", "OCI") is
// shown "AJUDA\<code>\<topic>.HLP" when the suite has it.
#pragma once
#include <string>

// The general help topic: the suite menu's own help, offered with F1 from
// inside any other help.
inline constexpr const char* kGeneralHelpTopic = "QOLAMENU";
// The document opener of a station that names none.
inline constexpr const char* kDefaultDocumentOpener = "xdg-open";

// Shows the help page of a topic (the menu name of the session, trailing
// blanks removed) and returns when the operator leaves it.
void ShowHelp(const std::string& topic);
