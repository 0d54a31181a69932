#!/usr/bin/env bash
# server.sh - an office whose record files are on a PostgreSQL server: the
# demo suite moved onto a throwaway server with `recutil copy`, settled
# through the real program inside tmux, and compared with the same
# settlement of the same suite on SQLite: the balances and the pass's
# statement are the same on both; the undo on the server gives back every
# record as it was before the pass.
#
# The cluster is started and stopped here (tests/recman/pg_cluster.sh: as
# "nobody" when run as root, a socket in its own folder, no TCP), or the
# server RECMAN_TEST_SERVER names is used.
set -u
. "$(dirname "$0")/lib.bash"

CLUSTER="${TARPELIX_SOURCE_DIR:?TARPELIX_SOURCE_DIR is not set}/tests/recman/pg_cluster.sh"
require_programs "$PROGRAM" "$DEMODATA" "$BALANCES" "$SETTLEMENTS" "$RECUTIL"
make_work tarpelix_e2e_server
DEADLINE_SECONDS=30

# ---- The server -----------------------------------------------------------------------
cluster=""
if [ -n "${RECMAN_TEST_SERVER:-}" ]; then
  connection=$RECMAN_TEST_SERVER
else
  # Beside the work folder, not in it: the cluster's owner must reach it.
  cluster=$(mktemp -u /tmp/tarpelix_e2e_pg.XXXXXX)
  connection=$(bash "$CLUSTER" start "$cluster") || { echo "FAIL: no PostgreSQL cluster"; exit 1; }
fi
trap '[ -n "$cluster" ] && bash "$CLUSTER" stop "$cluster"; cleanup_work' EXIT
schema="e2e_$$_$RANDOM"

# ---- Two copies of one demo suite: one stays on SQLite, one moves -------------------
local_root="$work/sqlite"
server_root="$work/server"
make_suite_root "$local_root"
"$DEMODATA" --root "$local_root/" >"$work/demodata.out" 2>&1 || { echo "FAIL: demodata: $(cat "$work/demodata.out")"; exit 1; }
cp -R "$local_root" "$server_root"
mkdir "$server_root/DADES.server"
printf '%s\nschema %s\n' "$connection" "$schema" >"$server_root/DADES.server/recman.server"
"$RECUTIL" copy "$server_root/DADES" "$server_root/DADES.server" >"$work/copy.out" 2>&1 ||
  { echo "FAIL: recutil copy: $(cat "$work/copy.out")"; exit 1; }
mv "$server_root/DADES" "$server_root/DADES.sqlite"
mv "$server_root/DADES.server" "$server_root/DADES"
[ ! -e "$server_root/DADES/recman.db" ] || fail "the server's folder holds a database of its own"

# dump_files ROOT FILE: every record of the six files, in key order.
dump_files() {
  local name
  for name in THRebut FinquesH FinDespH PropietH PagamH CobramH; do
    echo "== $name"
    "$RECUTIL" dump "$1/DADES/$name.dat" || echo "dump of $name failed"
  done >"$2" 2>&1
}
dump_files "$local_root" "$work/local_before.txt"
dump_files "$server_root" "$work/server_before.txt"
cmp -s "$work/local_before.txt" "$work/server_before.txt" ||
  { fail "the copy on the server differs from the folder it came from:"; diff "$work/local_before.txt" "$work/server_before.txt" | head -20; }

# ---- The same settlement on each -------------------------------------------------------
settle() {  # settle ROOT NAME
  local exit_file="$work/$2.exit"
  fail_context=$2
  start_suite "$1" "$PROGRAM" "$exit_file"
  wait_for_text "SALDO EN RÒSSEC" || fatal "the parameter screen did not appear"
  type_field "$DATE_LABEL" 31122026 && type_field "DE LA FINCA :" 1 &&
    type_field "FINS A LA FINCA :" 12 && type_field "CONCEPTE RÒSSEC :" 3
  wait_for_text "CONFIRMEU LA LIQUIDACIÓ" || fail "no confirmation asked"
  keys S Enter
  wait_for_text "LIQUIDACIÓ FETA" || fail "no result after the pass"
  wait_for_pattern "FINQUES LIQUIDADES +12 +║" || fail "the result does not give 12 properties settled"
  close_result
  wait_for_cursor_on "$DATE_LABEL"
  keys Escape
  expect_exit_zero "$exit_file"
  tm kill-server >/dev/null 2>&1
  fail_context=""
}
settle "$local_root" sqlite
settle "$server_root" server

# ---- The same results -------------------------------------------------------------------
"$BALANCES" --root "$local_root" --csv >"$work/local.csv" 2>&1 || fail "balances on SQLite"
"$BALANCES" --root "$server_root" --csv >"$work/server.csv" 2>&1 || fail "balances on the server"
cmp -s "$work/local.csv" "$work/server.csv" ||
  { fail "the balances differ between the stores:"; diff "$work/local.csv" "$work/server.csv" | head -20; }
"$SETTLEMENTS" --root="$local_root" show 1 --csv >"$work/local_statement.csv" 2>&1 || fail "settlements show on SQLite"
"$SETTLEMENTS" --root="$server_root" show 1 --csv >"$work/server_statement.csv" 2>&1 || fail "settlements show on the server"
[ "$(wc -l <"$work/server_statement.csv")" -gt 1 ] || fail "the statement on the server is empty"
cmp -s "$work/local_statement.csv" "$work/server_statement.csv" ||
  { fail "the statements differ between the stores:"; diff "$work/local_statement.csv" "$work/server_statement.csv" | head -20; }

# ---- The undo on the server -----------------------------------------------------------
"$SETTLEMENTS" --root="$server_root" undo 1 >"$work/undo.txt" 2>&1 || fail "settlements undo: $(cat "$work/undo.txt")"
grep -q "S'HA DESFET: 12 FINQUES" "$work/undo.txt" || fail "undo said: $(cat "$work/undo.txt")"
dump_files "$server_root" "$work/server_after.txt"
cmp -s "$work/server_before.txt" "$work/server_after.txt" ||
  { fail "the records after the undo differ from those before the pass:"; diff "$work/server_before.txt" "$work/server_after.txt" | head -20; }

finish "server: passed"
