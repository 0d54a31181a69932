// hooks.h - what the screen layer below calls upward into the settlement:
// the exit check of every form screen (the parameter check) and what the
// form driver and the browse list need of the record files whose layouts
// live here (concept lookups, browse list lines, the code a pick stores).
#pragma once

// Installs ScreenExitCheck = CheckParameterScreen and FormLookups.
void InstallSettlementHooks();
