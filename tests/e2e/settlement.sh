#!/usr/bin/env bash
# settlement.sh - a settlement in a real terminal: the program inside tmux on
# a demo suite made with tools/demodata.  A concept that is not a carry-over
# one and a missing concept are refused with their reasons on row 24, which
# the next key takes away; "N" on the confirmation
# changes nothing; then the date, the range and the concept are typed, the
# settlement is confirmed with "S" and the program left with Escape.  The
# balances listing (tools/balances) then shows the new last-settlement dates
# and the expected carried-over amounts, and nothing else changed.  The
# settlement journal (tools/settlements) lists the pass and its CSV
# statement gives the same amounts; its undo gives back every record as
# recutil dumped it before the pass, and a second undo is refused.
#
# The screen is read back with capture-pane and polled until a deadline
# instead of waiting fixed times.  On a failure the captured screen is
# printed.
set -u
. "$(dirname "$0")/lib.bash"

require_programs "$PROGRAM" "$DEMODATA" "$BALANCES" "$SETTLEMENTS" "$RECUTIL"
make_work tarpelix_e2e_settle
DEADLINE_SECONDS=15

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
# dump_files FILE: every record of the six files, in key order.
dump_files() {
  local name
  for name in THRebut FinquesH FinDespH PropietH PagamH CobramH; do
    echo "== $name"
    "$RECUTIL" dump "$root/DADES/$name.dat" || echo "dump of $name failed"
  done >"$1" 2>&1
}
dump_files "$work/dump_before.txt"

exit_file="$work/exit.code"
start_suite "$root" "$PROGRAM" "$exit_file"

wait_for_text "SALDO EN RÒSSEC" || fatal "the parameter screen did not appear"

# ---- A concept that is not a carry-over concept -------------------------------------
type_parameters 31122026 1 12 5
wait_for_text "EL CONCEPTE ASCENSOR NO ÉS DE TIPUS RÒSSEC" || fail "no reason for concept 5"
keys Home
wait_for_no_text "NO ÉS DE TIPUS RÒSSEC" || fail "the reason stayed"

# ---- A concept that does not exist (0 is accepted by the field) ---------------------
type_parameters 31122026 1 12 0
wait_for_text "NO EXISTEIX EL CONCEPTE" || fail "no reason for concept 0"
keys Home
wait_for_no_text "NO EXISTEIX EL CONCEPTE" || fail "the reason stayed"

# ---- "N" on the confirmation changes nothing ----------------------------------------
type_parameters 31122026 1 12 3
wait_for_text "$CONFIRM_LABEL" || fail "no confirmation asked"
keys N Enter
wait_for_cursor_on "$DATE_LABEL"
wait_for_no_text "$CONFIRM_LABEL" || fail "the confirmation stayed"
"$BALANCES" --root "$root" --csv >"$work/after_no.csv"
cmp -s "$work/before.csv" "$work/after_no.csv" || fail "N on the confirmation changed the data"

# ---- A pass over a range without properties ---------------------------------------
# It settles nothing, takes no number in the journal, and says so.
type_parameters 31122026 500 600 3
wait_for_text "$CONFIRM_LABEL" || fail "no confirmation asked"
keys S Enter
wait_for_text "CAP: NO S'HA LIQUIDAT CAP FINCA" || fail "the pass that settled nothing does not say so"
wait_for_pattern "FINQUES LIQUIDADES +0 +║" || fail "the result of the empty pass"
close_result

# ---- The settlement ---------------------------------------------------------------------
type_parameters 31122026 1 12 3
wait_for_text "$CONFIRM_LABEL" || fail "no confirmation asked"
keys S Enter
# The result over the parameter screen when the pass is done: its number in
# the journal, what it did.
wait_for_no_text "$CONFIRM_LABEL" || fail "the confirmation stayed"
wait_for_text "LIQUIDACIÓ FETA" || fail "no result after the pass"
wait_for_pattern "NÚMERO DE LIQUIDACIÓ +1 +║" || fail "the result does not give the pass number 1"
wait_for_pattern "DATA DE LIQUIDACIÓ +31/12/2026 +║" || fail "the result does not give the date"
wait_for_pattern "FINQUES +0001 A 0012 +║" || fail "the result does not give the range"
wait_for_pattern "FINQUES LIQUIDADES +12 +║" || fail "the result does not give the properties settled"
wait_for_text "PÀGINA 1 DE 1" || fail "the result does not say its page"
close_result
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
grep -qE "^0001\\.0006 .* 960'47 " "$work/listing.txt" || { fail "listing of property 1:"; cat "$work/listing.txt"; }

# ---- The journal: the pass listed, its statement, its undo ----------------------------
"$SETTLEMENTS" --root="$root" list >"$work/list.txt" 2>&1 || fail "settlements list: $(cat "$work/list.txt")"
grep -qE '^ +1  31/12/2026  .* 0001-0012 +12 ' "$work/list.txt" || { fail "the pass is not listed:"; cat "$work/list.txt"; }
"$SETTLEMENTS" --root="$root" show 1 --csv >"$work/statement.csv" 2>&1 || fail "settlements show --csv"
# One line per owner, and each amount stored what balances shows in c3.
owners=$(tail -n +2 "$work/after.csv" | wc -l)
[ "$(tail -n +2 "$work/statement.csv" | wc -l)" = "$owners" ] || fail "the statement has not one line per owner"
stored=$(tail -n +2 "$work/statement.csv" | awk -F, '{print $4, $(NF-1)}' | sort)
listed=$(tail -n +2 "$work/after.csv" | awk -F'"' '{print $3}' | awk -F, '{print $3, $6}' | sort)
[ "$stored" = "$listed" ] || { fail "the statement's amounts differ from the balances:"; diff <(echo "$listed") <(echo "$stored"); }
grep -q '^1,31/12/2026,0001,0001.0006,.*,3,96047,0$' "$work/statement.csv" || fail "owner 0001.0006 in the statement"
"$SETTLEMENTS" --root="$root" undo 1 >"$work/undo.txt" 2>&1 || fail "settlements undo: $(cat "$work/undo.txt")"
grep -q "S'HA DESFET: 12 FINQUES" "$work/undo.txt" || fail "undo said: $(cat "$work/undo.txt")"
dump_files "$work/dump_after.txt"
cmp -s "$work/dump_before.txt" "$work/dump_after.txt" ||
  { fail "the records after the undo differ from those before the pass:"; diff "$work/dump_before.txt" "$work/dump_after.txt" | head -20; }
if "$SETTLEMENTS" --root="$root" undo 1 >"$work/undo2.txt" 2>&1; then fail "a second undo was not refused"; fi
grep -q "JA ESTÀ DESFETA" "$work/undo2.txt" || fail "second undo said: $(cat "$work/undo2.txt")"
"$SETTLEMENTS" --root="$root" list | grep -qE '^ +1 .*DESFETA$' || fail "the list does not say the pass was undone"

finish "settlement: passed"
