#!/usr/bin/env bash
# pass_control.sh - what the clerk sees and can do while a settlement pass
# runs, in a real terminal: the program inside tmux on a demo suite of 3000
# properties made with tools/demodata.
#   - Row 24 shows the property being settled and how far the pass is
#     ("FINCA 0123 · 45 DE 400"), and changes while the pass runs.
#   - Escape stops the pass between two properties: the properties settled
#     before it are journaled as one pass, the others are untouched, and
#     the program stays on the parameter screen.
#   - The result of every pass comes in a window over the parameter
#     screen: stopped and where, its number in the journal, what it did;
#     a long one is read a page at a time.
#   - Keys typed while the pass waits for a lock another station holds are
#     not carried out after the wait.
#
# The screen is read back with capture-pane and polled until a deadline
# instead of waiting fixed times.  On a failure the captured screen is
# printed.
set -u
. "$(dirname "$0")/lib.bash"

require_programs "$PROGRAM" "$DEMODATA" "$BALANCES" "$SETTLEMENTS"
make_work tarpelix_e2e_pass_control
DEADLINE_SECONDS=20
# Enough properties that the pass is still running when the Escape sent
# after its progress line moved reaches it, on an idle machine too.
PROPERTIES=3000

# settle FIRST LAST: a settlement at 31/12/2026 of the range, confirmed.
settle() {
  type_field "$DATE_LABEL" 31122026 && type_field "$FIRST_LABEL" "$1" &&
    type_field "$LAST_LABEL" "$2" && type_field "$CONCEPT_LABEL" 3 &&
    wait_for_text "$CONFIRM_LABEL" && keys S Enter
}

# The property codes a balances listing (CSV, one row per owner) shows
# settled at 31/12/2026, one a line.
settled_codes() {
  tail -n +2 "$1" | awk -F'"' '{ split($3, f, ","); if (f[2] == "31/12/2026") print $1 }' |
    tr -d ',' | sort -u
}

# The progress line as now on the screen ("" when none).
progress_line() {
  capture
  grep -oE 'FINCA [0-9]{4} · [0-9]+ DE [0-9]+' <<<"$screen_text" | head -n1
}

root="$work/suite"
make_suite_root "$root"
"$DEMODATA" --root "$root/" --properties "$PROPERTIES" --owners 4 >"$work/demodata.out" 2>&1 ||
  { echo "FAIL: demodata: $(cat "$work/demodata.out")"; exit 1; }
"$BALANCES" --root "$root" --csv >"$work/before.csv" || { echo "FAIL: balances before"; exit 1; }

exit_file="$work/exit.code"
start_suite "$root" "$PROGRAM" "$exit_file"
wait_for_text "SALDO EN RÒSSEC" || fatal "the parameter screen did not appear"

# ---- The progress line, then Escape ------------------------------------------------
settle 1 9999 || fatal "the settlement could not be started"
wait_for_pattern "FINCA [0-9]{4} · [0-9]+ DE $PROPERTIES" || fatal "no progress line while the pass runs"
first=$(progress_line)
moved() { local now; now=$(progress_line); [ -n "$now" ] && [ "$now" != "$first" ]; }
until_ok moved || fail "the progress line did not change: $first"
keys Escape
wait_for_no_text "ESC: ATURA LA LIQUIDACIÓ" || fatal "the pass did not end after Escape"
wait_for_pattern "LIQUIDACIÓ ATURADA A LA FINCA [0-9]{4}" || fail "the result does not say the pass was stopped"
capture
stopped_at=$(grep -oE 'ATURADA A LA FINCA [0-9]{4}' <<<"$screen_text" | grep -oE '[0-9]{4}$')
grep -qE "NÚMERO DE LIQUIDACIÓ +1 " <<<"$screen_text" || fail "the stopped pass has no number"
grep -qF "$stopped_at-9999  LIQUIDACIÓ ATURADA PER L'OPERADOR" <<<"$screen_text" || fail "the properties not settled are not listed"
close_result
wait_for_cursor_on "$DATE_LABEL" || fail "not back on the parameter screen after the stop"
[ ! -s "$exit_file" ] || fail "Escape during the pass ended the program"

"$BALANCES" --root "$root" --csv >"$work/stopped.csv" || fail "balances after the stop"
settled_codes "$work/stopped.csv" >"$work/stopped.codes"
stopped=$(wc -l <"$work/stopped.codes")
echo "the pass was stopped after $stopped of $PROPERTIES properties"
[ "$stopped" -gt 0 ] && [ "$stopped" -lt "$PROPERTIES" ] || fail "Escape did not stop the pass in the middle ($stopped settled)"
# Exactly the first properties, none skipped: the pass stops between two.
seq -f '%04g' 1 "$stopped" | cmp -s - "$work/stopped.codes" || fail "the settled properties are not the first $stopped"
[ -n "$stopped_at" ] && [ "$((10#$stopped_at))" -eq "$((stopped + 1))" ] ||
  fail "the result says stopped at '$stopped_at' after $stopped properties"
# The untouched ones keep every amount.
untouched() { grep -vE "^($(paste -sd'|' "$work/stopped.codes")),"  "$1" | tail -n +2; }
[ "$(untouched "$work/before.csv")" = "$(untouched "$work/stopped.csv")" ] || fail "properties after the stop changed"
# The settled ones are one pass in the journal.
"$SETTLEMENTS" --root="$root" list >"$work/list.txt" 2>&1 || fail "settlements list: $(cat "$work/list.txt")"
grep -qE "^ +1  31/12/2026  .* $stopped " "$work/list.txt" || { fail "the pass of $stopped properties is not listed:"; cat "$work/list.txt"; }

# ---- Keys typed during a lock wait ---------------------------------------------------
# Another station holds property 1 (a live lock record of a station whose
# liveness file this one cannot see, so it is waited for, not freed).
offset=$(date +%z)
minutes=$(( ($(date +%s) + (10#${offset:1:2} * 3600 + 10#${offset:3:2} * 60) * ${offset:0:1}1) / 60 ))
printf '%-15s%-11s%-8s%s%-2s%-40s%-2s%-40s\r\n' OTHER 424242 "$minutes" K 4 0001 4 0001 >"$root/LOCKS/PropietH.lck"
wait_for_cursor_on "$DATE_LABEL"
type_field "$DATE_LABEL" 31012027 && type_field "$FIRST_LABEL" 1 && type_field "$LAST_LABEL" 1 &&
  type_field "$CONCEPT_LABEL" 3 && wait_for_text "$CONFIRM_LABEL" && keys S Enter
wait_for_text "FITXER BLOQUEJAT" || fail "the pass did not wait for the other station's lock"
keys -l 77
keys F1
tm display-message -p '' >/dev/null # a round trip: tmux has written the keys to the terminal
rm -f "$root/LOCKS/PropietH.lck"
wait_for_no_text "FITXER BLOQUEJAT" || fail "the lock wait did not end"
wait_for_no_text "ESC: ATURA LA LIQUIDACIÓ" || fail "the pass did not end"
# The result waits for its Escape: neither the digits nor F1 closed it.
wait_for_pattern "NÚMERO DE LIQUIDACIÓ +2 " || fail "no result of the second pass"
close_result
wait_for_cursor_on "$DATE_LABEL" || fail "not back on the parameter screen"
# Neither the digits nor F1 (the help) were carried out after the wait: the
# date field keeps its value, and the screen stays as it is for a while.
date_shown() { capture; grep -F "$DATE_LABEL" <<<"$screen_text" | grep -oE ': *[0-9/]+' | head -n1; }
kept=$(date_shown)
changed() { local now; now=$(date_shown); [ "$now" != "$kept" ] || ! cursor_on_label "$DATE_LABEL"; }
grep -qE '^: *31/?01/?2027$' <<<"$kept" || fail "the date field shows '$kept'"
DEADLINE_SECONDS=2
until_ok changed && fail "keys typed during the lock wait were carried out after it"
DEADLINE_SECONDS=20
"$BALANCES" --root "$root" --from 1 --to 1 --csv | grep -q '31/01/2027' || fail "property 1 was not settled after the wait"

# ---- A long result, a page at a time ---------------------------------------------------
# A date before every property's last settlement: nothing is settled, and
# every property of the range is listed with its reason.
type_field "$DATE_LABEL" 31012020 && type_field "$FIRST_LABEL" 1 &&
  type_field "$LAST_LABEL" 9999 && type_field "$CONCEPT_LABEL" 3 && wait_for_text "$CONFIRM_LABEL" && keys S Enter
wait_for_text "CAP: NO S'HA LIQUIDAT CAP FINCA" || fail "the pass that settled nothing does not say so"
wait_for_pattern "PÀGINA 1 DE [0-9]+ " || fail "the long result has no pages"
capture
pages=$(grep -oE 'PÀGINA 1 DE [0-9]+' <<<"$screen_text" | grep -oE '[0-9]+$')
[ "$pages" -ge 20 ] || fail "$PROPERTIES properties listed on $pages pages"
grep -qF "0001  LIQUIDADA A UNA DATA POSTERIOR" <<<"$screen_text" || fail "the first page does not list property 1"
keys PgDn
wait_for_text "PÀGINA 2 DE $pages " || fail "PgDn did not turn the page"
wait_for_pattern "║ +00[0-3][0-9]  LIQUIDADA A UNA DATA POSTERIOR" || fail "the second page lists no properties"
keys End
wait_for_text "PÀGINA $pages DE $pages " || fail "End did not go to the last page"
last_code=$(printf '%04d' "$PROPERTIES")
wait_for_text "$last_code  LIQUIDADA A UNA DATA POSTERIOR" || fail "the last page does not end with property $last_code"
keys PgUp
wait_for_text "PÀGINA $((pages - 1)) DE $pages " || fail "PgUp did not turn the page back"
close_result
wait_for_cursor_on "$DATE_LABEL" || fail "not back on the parameter screen after the long result"
"$SETTLEMENTS" --root="$root" list | grep -qE '^ +3 ' && fail "the pass that settled nothing took a number"

keys Escape
expect_exit_zero "$exit_file"
finish "pass control: passed"
