// settlement.cpp - the dialogue loop and the settlement pass.
#include "settle/settlement.h"

#include "input/keys.h"
#include "platform/console.h"
#include "screen/form_driver.h"
#include "screen/windows.h"

float IvaRate[2] = {0, 0};
float RetRate[2] = {0, 0};

void CreateWorkTables() {}

// One settlement over the range of properties chosen on the parameter
// screen.
void SettlementPass();
void SettlementPass() {}

void RunSettlement() {
  SetColourScheme("n");
  ConsoleClear(ConsoleAttribute());
  for (;;) {
    // The parameter screen's exit check has validated the fields, asked for
    // confirmation and set the settlement parameters by the time it is
    // accepted.  Neither PgUp nor PgDn leaves it.
    int16_t screen = 1, pgUpLeaves = 0, pgDnLeaves = 0;
    KeyCode key = 0;
    RunFormScreen(screen, pgUpLeaves, pgDnLeaves, key);
    // Escape ends the work.  A screen that returns no key at all had no
    // field to edit: running settlements on it would never end.
    if (key == kKeyEsc || key == 0) return;
    SettlementPass();
  }
}
