#!/usr/bin/env bash
# settlement.sh - a settlement in a real terminal: the program inside tmux on
# a demo suite made with tools/demodata.  A concept that is not a carry-over
# one and a missing concept show their messages; "N" on the confirmation
# changes nothing; then the date, the range and the concept are typed, the
# settlement is confirmed with "S" and the program left with Escape.  The
# balances listing (tools/balances) then shows the new last-settlement dates
# and the expected carried-over amounts, and nothing else changed.
#
# The screen is read back with capture-pane and polled until a deadline
# instead of waiting fixed times.  On a failure the captured screen is
# printed.
set -u
. "$(dirname "$0")/lib.bash"

BIN="${TARPELIX_BINARY_DIR:?TARPELIX_BINARY_DIR is not set}"
PROGRAM="$BIN/tarpelix"
DEMODATA="$BIN/tools/demodata"
BALANCES="$BIN/tools/balances"
require_programs "$PROGRAM" "$DEMODATA" "$BALANCES"
make_work tarpelix_e2e_settle
DEADLINE_SECONDS=15

# The demo form's captions (Catalan).
DATE_LABEL="DATA DE LIQUIDACIÓ :"
FIRST_LABEL="DE LA FINCA :"
LAST_LABEL="FINS A LA FINCA :"
CONCEPT_LABEL="CONCEPTE RÒSSEC :"
CONFIRM_LABEL="CONFIRMEU LA LIQUIDACIÓ (S/N) :"

# Types a value into the field the cursor stands on: the field is blanked
# first (Ctrl+Y), then the text, then Enter.
type_field() {
  local label=$1 value=$2
  wait_for_cursor_on "$label" || return 1
  keys C-y
  keys -l "$value"
  keys Enter
}

# The four parameters, from the first field.
type_parameters() {
  type_field "$DATE_LABEL" "$1" && type_field "$FIRST_LABEL" "$2" &&
    type_field "$LAST_LABEL" "$3" && type_field "$CONCEPT_LABEL" "$4"
}

# ---- The demo suite ----------------------------------------------------------------
root="$work/suite"
make_suite_root "$root"
if ! "$DEMODATA" --root "$root/" >"$work/demodata.out" 2>&1; then
  echo "FAIL: demodata: $(cat "$work/demodata.out")"
  exit 1
fi
"$BALANCES" --root "$root" --csv >"$work/before.csv" || { echo "FAIL: balances before"; exit 1; }

exit_file="$work/exit.code"
start_suite "$root" "$PROGRAM" "$exit_file"

wait_for_text "SALDO EN RÒSSEC" || fatal "the parameter screen did not appear"

# ---- A concept that is not a carry-over concept -------------------------------------
type_parameters 31122026 1 12 5
wait_for_text "EL CONCEPTE ASCENSOR NO ÉS DE TIPUS RÒSSEC" || fail "no message for concept 5"
keys Enter
wait_for_no_text "NO ÉS DE TIPUS RÒSSEC" || fail "the message stayed"

# ---- A concept that does not exist (0 is accepted by the field) ---------------------
type_parameters 31122026 1 12 0
wait_for_text "NO EXISTEIX EL CONCEPTE" || fail "no message for concept 0"
keys Enter
wait_for_no_text "NO EXISTEIX EL CONCEPTE" || fail "the message stayed"

# ---- "N" on the confirmation changes nothing ----------------------------------------
type_parameters 31122026 1 12 3
wait_for_text "$CONFIRM_LABEL" || fail "no confirmation asked"
keys N Enter
wait_for_cursor_on "$DATE_LABEL"
wait_for_no_text "$CONFIRM_LABEL" || fail "the confirmation stayed"
"$BALANCES" --root "$root" --csv >"$work/after_no.csv"
cmp -s "$work/before.csv" "$work/after_no.csv" || fail "N on the confirmation changed the data"

# ---- The settlement ---------------------------------------------------------------------
type_parameters 31122026 1 12 3
wait_for_text "$CONFIRM_LABEL" || fail "no confirmation asked"
keys S Enter
# Back on the parameter screen when the pass is done.
wait_for_no_text "$CONFIRM_LABEL" || fail "the confirmation stayed"
wait_for_cursor_on "$DATE_LABEL"
keys Escape
expect_exit_zero "$exit_file"

# ---- What the balances listing shows ------------------------------------------------
"$BALANCES" --root "$root" --csv >"$work/after.csv" || fail "balances after"
# Every property settled at 31/12/2026.
dates=$(tail -n +2 "$work/after.csv" | awk -F'"' '{print $3}' | cut -d, -f2 | sort -u)
[ "$dates" = "31/12/2026" ] || fail "last-settlement dates after the settlement: $dates"
# Only the carry-over concept (c3, the 7th comma field after the quoted
# description) changed: the other slots are as they were.
others() { tail -n +2 "$1" | awk -F'"' '{print $1 $3}' | awk -F, '{print $1, $4, $5, $6, $8, $9, $10, $11, $12}'; }
[ "$(others "$work/before.csv")" = "$(others "$work/after.csv")" ] || fail "slots other than the carry-over concept changed"
# The carried-over amounts of property 1 (demo data of seed 1, rates 21 %
# VAT and 15 % withholding from the demo's Vork.ini, six months of fees).
expected="0001.0001 13058
0001.0002 15631
0001.0003 12876
0001.0004 70820
0001.0005 6907
0001.0006 96047
0001.0007 5391
0001.0008 10659
0001.1001 17548"
actual=$(grep '^0001,' "$work/after.csv" | awk -F'"' '{print $3}' | awk -F, '{print $3, $6}')
if [ "$actual" != "$expected" ]; then
  fail "carried-over amounts of property 1:"
  diff <(echo "$expected") <(echo "$actual")
fi
# The text listing shows the same in euros.
"$BALANCES" --root "$root" --from 1 --to 1 >"$work/listing.txt"
grep -qE '^0001\.0006 .* 960,47 ' "$work/listing.txt" || { fail "listing of property 1:"; cat "$work/listing.txt"; }

finish "settlement: passed"
