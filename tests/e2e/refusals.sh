#!/usr/bin/env bash
# refusals.sh - what the parameter screen refuses, and why, in a real
# terminal: every refusal beeps and says why on row 24 until the next key
# (a date that does not exist, a concept beyond 8, a concept that is no
# carry-over one, a range given backwards); a concept picked with F4 that
# the field refuses is edited again, never confirmed; a property of four
# digits is picked from the list, settled, and the property of its last
# three digits is left as it was.  A form file cut short stops the program
# at start with a message naming the file and what it lacks, and exit 1.
#
# The program runs inside a tmux server of its own (80 x 25) on a demo suite
# made with tools/demodata (1009 properties, one owner each); the screen is
# read back with capture-pane and polled until a deadline instead of
# waiting fixed times.  On a failure the captured screen is printed.
set -u
. "$(dirname "$0")/lib.bash"

require_programs "$PROGRAM" "$DEMODATA" "$BALANCES"
make_work tarpelix_e2e_refusals
DEADLINE_SECONDS=15

# Row 24 of the screen, without its blanks.
reason_row() {
  capture
  sed -n 24p <<<"$screen_text" | sed -e 's/^ *//' -e 's/ *$//'
}
reason_is() { [ "$(reason_row)" = "$1" ]; }
reason_is_empty() { [ -z "$(reason_row)" ]; }
# wait_for_reason TEXT: row 24 says TEXT (a failure when it does not).
wait_for_reason() {
  until_ok reason_is "$1" || fail "row 24 does not say \"$1\" (it says \"$(reason_row)\")"
}
wait_for_no_reason() {
  until_ok reason_is_empty || fail "row 24 was not cleared (\"$(reason_row)\")"
}

type_parameters() {
  type_field "$DATE_LABEL" "$1" && type_field "$FIRST_LABEL" "$2" &&
    type_field "$LAST_LABEL" "$3" && type_field "$CONCEPT_LABEL" "$4"
}

root="$work/suite"
make_suite_root "$root"
"$DEMODATA" --root "$root/" --properties=1009 --owners=1 --collections=0 --payments=0 \
  >"$work/demodata.out" 2>&1 || { echo "FAIL: demodata: $(cat "$work/demodata.out")"; exit 1; }
"$BALANCES" --root "$root" --from 9 --to 9 --csv >"$work/nine_before.csv" || { echo "FAIL: balances"; exit 1; }

exit_file="$work/exit.code"
start_suite "$root" "$PROGRAM" "$exit_file"
wait_for_text "SALDO EN RÒSSEC" || fatal "the parameter screen did not appear"
# The default last property has four digits.
wait_for_pattern "${LAST_LABEL} *9999( |$)" || fail "the default last property is not 9999"

# ---- A date that does not exist: said until the next key ----------------------------
type_field "$DATE_LABEL" "31/02/26"
wait_for_reason "DATA INCORRECTA"
wait_for_cursor_on "$DATE_LABEL"
keys Home
wait_for_no_reason
wait_for_cursor_on "$DATE_LABEL"

# ---- A concept beyond 8 --------------------------------------------------------------
type_parameters 31122026 1 12 9
wait_for_reason "EL CONCEPTE HA DE SER DEL 0 AL 8"
wait_for_cursor_on "$CONCEPT_LABEL"

# ---- A concept that is no carry-over concept (5, ASCENSOR) ----------------------------
keys C-y 5 Enter
wait_for_reason "EL CONCEPTE ASCENSOR NO ÉS DE TIPUS RÒSSEC"
wait_for_cursor_on "$DATE_LABEL"
screen_lacks "$CONFIRM_LABEL" || fail "the confirmation was asked"

# ---- A range given backwards ------------------------------------------------------------
type_parameters 31122026 10 5 3
wait_for_reason "LA PRIMERA FINCA ÉS POSTERIOR A LA DARRERA"
wait_for_cursor_on "$DATE_LABEL"
screen_lacks "$CONFIRM_LABEL" || fail "the confirmation was asked"

# ---- F4 on the concept: 10 is refused, the field edited again ---------------------------
keys PgDn
wait_for_cursor_on "$CONCEPT_LABEL"
keys F4
wait_for_text "CONCEPTES" || fail "F4 did not open the concept list"
wait_for_text "10  DESPESES BANC" || fail "the concept list does not show concept 10"
keys Down Down Down Down Down Down Down Down
sleep 0.2
keys Enter
wait_for_reason "EL CONCEPTE HA DE SER DEL 0 AL 8"
wait_for_pattern "${CONCEPT_LABEL} *10( |$)" || fail "the field does not show the picked 10"
wait_for_cursor_on "$CONCEPT_LABEL"
screen_lacks "$CONFIRM_LABEL" || fail "the refused pick went on to the confirmation"

# ---- A property of four digits, picked and settled --------------------------------------
# The first property from the list: past its last page, the bar on 1009.
keys C-y 3 Enter  # the concept; the check refuses the range 10..5 again
wait_for_cursor_on "$DATE_LABEL"
keys Enter
wait_for_cursor_on "$FIRST_LABEL"
keys F4
wait_for_text "0001  " || fail "F4 did not open the property list"
for _ in 1 2 3 4 5 6 7 8; do keys PgDn PgDn PgDn PgDn PgDn PgDn PgDn PgDn PgDn PgDn; done
for _ in 1 2; do keys Down Down Down Down Down Down Down Down Down Down; done
wait_for_text "1009  " || fail "the property list does not reach 1009"
sleep 0.3
keys Enter
wait_for_pattern "${FIRST_LABEL} *1009( |$)" || fail "the picked property 1009 was not stored whole"
wait_for_cursor_on "$LAST_LABEL"
type_field "$LAST_LABEL" 1009
wait_for_cursor_on "$CONCEPT_LABEL"
keys Enter
wait_for_text "$CONFIRM_LABEL" || fail "no confirmation asked"
# The confirmation's own key line, and the parameter screen's back after it.
[ "$(sed -n 25p <<<"$screen_text" | sed -e 's/^ *//' -e 's/ *$//')" = \
  "F1 AJUDA   ALT+C CALENDARI   ALT+X CALCULADORA   S O N I RETORN   ESC TORNA" ] ||
  fail "the confirmation's key line is not on row 25"
keys S Enter
wait_for_no_text "$CONFIRM_LABEL" || fail "the confirmation stayed"
close_result
wait_for_cursor_on "$DATE_LABEL"
wait_for_text "F1 AJUDA   F4 LLISTA" || fail "the parameter screen's key line did not come back"
keys Escape
expect_exit_zero "$exit_file"

"$BALANCES" --root "$root" --from 1009 --to 1009 --csv >"$work/settled.csv" || fail "balances of 1009"
grep -qE '^1009,.*31/12/2026' "$work/settled.csv" || { fail "property 1009 was not settled:"; cat "$work/settled.csv"; }
"$BALANCES" --root "$root" --from 9 --to 9 --csv >"$work/nine_after.csv" || fail "balances of 9"
cmp -s "$work/nine_before.csv" "$work/nine_after.csv" || fail "property 9 changed: 1009 was taken for 9"

# ---- A form file cut short -----------------------------------------------------------
tm kill-server >/dev/null 2>&1
short="$work/short"
make_suite_root "$short"
form="$short/FORMS/TARPELIX.JPN"
cut_at=$(grep -abo "FINS A LA FINCA" "$form" | head -n1 | cut -d: -f1)
head -c "$cut_at" "$form" >"$form.cut" && mv "$form.cut" "$form"
short_exit="$work/short.exit"
start_suite "$short" "$PROGRAM" "$short_exit"
until_ok test -s "$short_exit" || fail "the program did not end on a form file cut short"
grep -qx "EXIT=1" "$short_exit" || fail "exit status on a form file cut short: $(cat "$short_exit")"
wait_for_text "FITXER DE PANTALLES INCOMPLET" || fail "no message for the form file cut short"
wait_for_text "TARPELIX.JPN, HI FALTA EL CAMP 3 DE LA PANTALLA 1" || fail "the message does not say what is missing"

finish "refusals: passed"
