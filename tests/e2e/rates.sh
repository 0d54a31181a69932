#!/usr/bin/env bash
# rates.sh - the tax rates a settlement charges, in a real terminal: the
# program inside tmux on a demo suite made with tools/demodata, whose
# properties 4 and 9 have tax index 1.
#   - A percentage outside 0..100 in Vork.ini stops the program at start
#     with a message naming the section and the value.
#   - With a Vork.ini that gives no rates for tax index 1, the confirmation
#     shows the rates of index 0 and says those of index 1 are not given;
#     the pass leaves properties 4 and 9 untouched and the result lists
#     them with the section to fill in; the others are settled.
#   - Without the administrator's tax identifier the pass is refused with
#     its reason on row 24.
#
# The screen is read back with capture-pane and polled until a deadline
# instead of waiting fixed times.  On a failure the captured screen is
# printed.
set -u
. "$(dirname "$0")/lib.bash"

require_programs "$PROGRAM" "$DEMODATA" "$BALANCES"
make_work tarpelix_e2e_rates
DEADLINE_SECONDS=15

# The parameters of a settlement of properties 1 to 12 at 31/12/2026.
type_parameters() {
  type_field "$DATE_LABEL" 31122026 && type_field "$FIRST_LABEL" 1 && type_field "$LAST_LABEL" 12 &&
    type_field "$CONCEPT_LABEL" 3
}

# vork_ini SECTIONS...: a Vork.ini of the demo's user preferences and the
# given lines, with the suite's CR LF line ends.
vork_ini() {
  { printf '[Usuari]\nIdioma=CAT\nDatCaracter=/\nDatOrdre=DMA\n'; printf '%s\n' "$@"; } | sed 's/$/\r/' >"$root/Vork.ini"
}

root="$work/suite"
make_suite_root "$root"
"$DEMODATA" --root "$root/" >"$work/demodata.out" 2>&1 || { echo "FAIL: demodata: $(cat "$work/demodata.out")"; exit 1; }
"$BALANCES" --root "$root" --csv >"$work/before.csv" || { echo "FAIL: balances before"; exit 1; }

# ---- A percentage outside 0..100 stops the program -------------------------------------
vork_ini '[Iva0]' 'Honoraris=21' '[Ret1]' 'Honoraris=-21' '[Administrador]' 'NIF=ES12345678Z'
exit_file="$work/exit.refused"
error_file="$work/stderr.refused"
start_session 80 25 "cd $(printf '%q' "$root") && KALROOT=$(printf '%q' "$root/") KALTMP=$(printf '%q' "$root/TMP/") $(printf '%q' "$PROGRAM") 2>$(printf '%q' "$error_file"); echo EXIT=\$? > $(printf '%q' "$exit_file"); sleep 30"
until_ok test -s "$exit_file" || fail "the program did not stop on a negative percentage"
grep -qx "EXIT=1" "$exit_file" || fail "exit status on a negative percentage: $(cat "$exit_file")"
grep -qF "[Ret1] Honoraris=-21: EL PERCENTATGE HA DE SER ENTRE 0 I 100" "$error_file" ||
  fail "the message does not name the section and the value: $(cat "$error_file")"
tm kill-server >/dev/null 2>&1
cmp -s <("$BALANCES" --root "$root" --csv) "$work/before.csv" || fail "the refused start changed the data"

# ---- No rates for tax index 1 -------------------------------------------------------
vork_ini '[Iva0]' 'Honoraris=21' '[Ret0]' 'Honoraris=0' '[Administrador]' 'NIF=ES12345678Z'
exit_file="$work/exit.code"
start_suite "$root" "$PROGRAM" "$exit_file"
wait_for_text "SALDO EN RÒSSEC" || fatal "the parameter screen did not appear"
type_parameters
wait_for_text "$CONFIRM_LABEL" || fatal "no confirmation asked"
wait_for_pattern "DATA DE LIQUIDACIÓ : 31/12/2026" || fail "the confirmation does not give the date"
wait_for_pattern "FINQUES : 0001 A 0012 \(12 AL FITXER\)" || fail "the confirmation does not give the range and its properties"
wait_for_pattern "TIPUS 0 : IVA 21 % · RETENCIÓ 0 %" || fail "the confirmation does not give the rates of index 0"
wait_for_pattern "TIPUS 1 : IVA NO DEFINIT · RETENCIÓ NO DEFINIT" || fail "the confirmation does not say index 1 has no rates"
wait_for_pattern "NIF DE L'ADMINISTRADOR : ES12345678Z" || fail "the confirmation does not give the administrator's tax identifier"
keys S Enter
wait_for_text "0004  SENSE PERCENTATGE D'IVA PER AL SEU TIPUS A Vork.ini [Iva1]" || fail "property 4 is not listed for its missing rate"
wait_for_text "0009  SENSE PERCENTATGE D'IVA PER AL SEU TIPUS A Vork.ini [Iva1]" || fail "property 9 is not listed for its missing rate"
wait_for_pattern "FINQUES LIQUIDADES +10 " || fail "the other ten properties are not settled"
close_result
wait_for_cursor_on "$DATE_LABEL"
"$BALANCES" --root "$root" --csv >"$work/after.csv" || fail "balances after"
# Properties 4 and 9 exactly as before, the others settled.
for p in 0004 0009; do
  [ "$(grep "^$p," "$work/before.csv")" = "$(grep "^$p," "$work/after.csv")" ] || fail "property $p changed"
done
settled=$(tail -n +2 "$work/after.csv" | awk -F'"' '{ split($3, f, ","); if (f[2] == "31/12/2026") print $1 }' | sort -u | wc -l)
[ "$settled" -eq 10 ] || fail "$settled properties settled, not 10"

keys Escape
expect_exit_zero "$exit_file"
tm kill-server >/dev/null 2>&1

# ---- No administrator's tax identifier: refused with its reason ------------------------
vork_ini '[Iva0]' 'Honoraris=21' '[Iva1]' 'Honoraris=10' '[Ret0]' 'Honoraris=15' '[Ret1]' 'Honoraris=7'
start_suite "$root" "$PROGRAM" "$work/exit.nonif"
wait_for_text "SALDO EN RÒSSEC" || fatal "the parameter screen did not appear without the tax identifier"
type_parameters
wait_for_text "FALTA EL NIF DE L'ADMINISTRADOR A Vork.ini [Administrador] NIF" ||
  fail "the pass without the administrator's tax identifier is not refused with its reason"
screen_lacks "$CONFIRM_LABEL" || fail "the confirmation was asked without the tax identifier"
keys Escape Escape
expect_exit_zero "$work/exit.nonif"

finish "rates: passed"
