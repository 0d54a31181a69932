// calendar.h - the pop-up calendar opened with Alt+C from any key read.
#pragma once
#include <string>

// Shows a quarter of a year starting on the session date, lets the operator
// move by days, weeks and quarters, and returns the picked date as the
// numeric date text (DateText "dma", style 0: always 10 characters), or ""
// when the operator leaves with Esc.  The key reader types the result into
// the field being edited.
std::string CalendarPopup();
