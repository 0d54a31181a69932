// server_store.cpp - with RECMAN_TEST_STORE=server the settlement's tests
// keep every suite they make on a PostgreSQL server (tests/recman/
// server_env.h), so that the kills and the stations run on either store.
#include "tests/recman/server_env.h"

namespace {

[[maybe_unused]] testing::Environment* const kServerStore =
    testing::AddGlobalTestEnvironment(new servertest::Environment);

}  // namespace
