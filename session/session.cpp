// session.cpp - the session values' one definition.
#include "session/session.h"

SessionState Session;
