#pragma once
#include <string>
std::string CalendarPopup();  // the pop-up calendar (Alt+C); picked date typed into the field
