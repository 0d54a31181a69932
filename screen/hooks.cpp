// hooks.cpp - InstallScreenHooks.
#include "screen/hooks.h"

#include "data/data.h"
#include "input/keys.h"
#include "screen/calculator.h"
#include "screen/calendar.h"
#include "screen/windows.h"

void InstallScreenHooks() {
  DataMessages.show = ShowMessage;
  DataMessages.close = CloseWindow;
  Keyboard.calculator = Calculator;
  Keyboard.calendar = CalendarPopup;
}
