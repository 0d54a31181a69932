// colours.cpp - the colour schemes: five foreground/background pairs of the
// session, chosen by letters, with a stack for "+" and "-".
#include <cctype>

#include "platform/console.h"
#include "screen/windows.h"
#include "session/session.h"

unsigned char SchemeAttribute(int scheme) {
  if (scheme < 0 || scheme > 4) scheme = 0;
  return static_cast<unsigned char>((Session.background[scheme] & 15) * 16 +
                                    (Session.foreground[scheme] & 15));
}

void SetColourScheme(const std::string& code) {
  std::string upper;
  for (unsigned char c : code) upper += static_cast<char>(std::toupper(c));
  if (upper.find_first_not_of(' ') == std::string::npos) return;
  if (upper.find('+') != std::string::npos) Windows.schemeStack += static_cast<char>(Windows.currentScheme);
  int scheme;
  if (upper.find('-') != std::string::npos) {
    scheme = 0;
    if (!Windows.schemeStack.empty()) {
      scheme = static_cast<unsigned char>(Windows.schemeStack.back());
      Windows.schemeStack.pop_back();
      if (scheme > 4) scheme = 0;
    }
  } else if (upper.find('U') != std::string::npos) {
    scheme = 4;
  } else {
    scheme = (upper.find('R') != std::string::npos ? 2 : 0) + (upper.find('N') != std::string::npos ? 1 : 0);
  }
  ConsoleSetAttribute(SchemeAttribute(scheme));
  Windows.currentScheme = scheme;
}
