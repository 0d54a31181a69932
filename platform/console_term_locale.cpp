// console_term_locale.cpp - the character type locale ncursesw draws in.
#include <langinfo.h>
#include <locale.h>

#include <cstring>

#include "platform/console_term_internal.h"

namespace termconsole {

// ncursesw writes the code points in the locale's encoding; the console
// draws box characters, so it needs UTF-8 even where LANG is not set.
// Only the character type category is touched: numbers keep the C format.
void ChooseUtf8Locale() {
  const char* current = setlocale(LC_CTYPE, nullptr);
  Term.savedLocale = current ? current : "C";
  setlocale(LC_CTYPE, "");
  for (const char* fallback : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0)) return;
    setlocale(LC_CTYPE, fallback);
  }
}

void RestoreLocale() { setlocale(LC_CTYPE, Term.savedLocale.c_str()); }

}  // namespace termconsole
