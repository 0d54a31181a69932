// session_setup.h - SetupSession, which fills the session values
// (session/session.h) at start.
#pragma once
#include "session/session.h"

// Fills Session from the environment and the settings files.
void SetupSession();
