// calendar.cpp - placeholder: no calendar yet, so nothing is typed.
#include "input/calendar.h"
std::string CalendarPopup() { return ""; }
