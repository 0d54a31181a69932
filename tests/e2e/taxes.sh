#!/usr/bin/env bash
# taxes.sh - the fees' VAT and withholding of two quarters, as the
# administrator files them: the program inside tmux settles a demo suite at
# the end of March and, with the VAT of tax index 0 raised in Vork.ini, at
# the end of June.  tools/settlements taxes then reports the year and each
# quarter as text, CSV and HTML, and per owner: the CSV's lines add up to
# what the passes' statements (settlements show --csv) charged, the rates
# are those each pass ran with, and a rate changed in Vork.ini afterwards
# changes nothing.
#
# The screen is read back with capture-pane and polled until a deadline
# instead of waiting fixed times.  On a failure the captured screen is
# printed.
set -u
. "$(dirname "$0")/lib.bash"

require_programs "$PROGRAM" "$DEMODATA" "$SETTLEMENTS"
make_work tarpelix_e2e_taxes
DEADLINE_SECONDS=15

# settle DDMMYYYY: the program started, properties 1 to 12 settled at the
# date into concept 3, the program left.
settle() {
  local exit_file="$work/exit.$1"
  start_suite "$root" "$PROGRAM" "$exit_file"
  wait_for_text "SALDO EN RÒSSEC" || fatal "the parameter screen did not appear ($1)"
  type_field "$DATE_LABEL" "$1" && type_field "$FIRST_LABEL" 1 && type_field "$LAST_LABEL" 12 &&
    type_field "$CONCEPT_LABEL" 3
  wait_for_text "$CONFIRM_LABEL" || fatal "no confirmation asked ($1)"
  keys S Enter
  wait_for_no_text "$CONFIRM_LABEL" || fail "the confirmation stayed ($1)"
  DEADLINE_SECONDS=30 close_result
  wait_for_cursor_on "$DATE_LABEL"
  keys Escape
  expect_exit_zero "$exit_file"
  tm kill-server >/dev/null 2>&1
}

# The CSV reports with their quoted texts emptied, so that commas split the
# fields; column FILE NAME: the number of the heading's column NAME.
csv_plain() { sed 's/"[^"]*"//g' "$1"; }
column() { head -1 "$1" | tr , '\n' | grep -nx "$2" | cut -d: -f1; }
# sum_rows FILE NAME [PROPERTY]: the column summed over the lines (of the
# property), the TOTAL line left out; total_of FILE NAME: the TOTAL line's.
sum_rows() {
  csv_plain "$1" | awk -F, -v c="$(column "$1" "$2")" -v p="${3:-}" \
    'NR > 1 && $3 != "TOTAL" && (p == "" || $3 == p) { s += $c } END { print s + 0 }'
}
total_of() { csv_plain "$1" | awk -F, -v c="$(column "$1" "$2")" '$3 == "TOTAL" { print $c }'; }

# ---- The demo suite, settled at the end of two quarters ------------------------------
root="$work/suite"
make_suite_root "$root"
# The last settlements in 2025, so that both passes of 2026 charge months.
if ! "$DEMODATA" --root "$root/" --date=31122025 >"$work/demodata.out" 2>&1; then
  echo "FAIL: demodata: $(cat "$work/demodata.out")"
  exit 1
fi
settle 31032026
sed -i '/^\[Iva0\]/,/^Honoraris/ s/^Honoraris=21/Honoraris=22/' "$root/Vork.ini"
grep -q '^Honoraris=22' "$root/Vork.ini" || fatal "Vork.ini's VAT was not changed"
settle 30062026

taxes() { "$SETTLEMENTS" --root="$root" taxes "$@"; }

# ---- The year and each quarter ------------------------------------------------------------
taxes --year=2026 >"$work/year.txt" 2>"$work/year.err" || fail "taxes --year: $(cat "$work/year.err")"
grep -q "^IVA I RETENCIÓ DELS HONORARIS D'ADMINISTRACIÓ$" "$work/year.txt" || fail "no heading: $(head -3 "$work/year.txt")"
grep -q "^Liquidacions comptades: 2\. " "$work/year.txt" || fail "the year does not count both passes"
# Property 1 (tax index 0): a line at 21 % and one at 22 %.
[ "$(grep -cE '^0001 ' "$work/year.txt")" = 2 ] || { fail "property 1 has not two lines:"; cat "$work/year.txt"; }
grep -qE '^0001 .* 21,00 % .*' "$work/year.txt" || fail "property 1 at 21 %"
grep -qE '^0001 .* 22,00 % .*' "$work/year.txt" || fail "property 1 at 22 %"
grep -qE '^TOTAL ' "$work/year.txt" || fail "no totals"

for q in 1 2 3; do
  taxes --year=2026 --quarter=$q --csv >"$work/q$q.csv" 2>"$work/q$q.err" || fail "taxes --quarter=$q --csv"
done
grep -q '^2026,1,0001,.*,21\.00,' "$work/q1.csv" || fail "the first quarter's VAT of property 1 is not 21 %"
grep -q '^2026,2,0001,.*,22\.00,' "$work/q2.csv" || fail "the second quarter's VAT of property 1 is not 22 %"
[ "$(wc -l <"$work/q3.csv")" = 2 ] || fail "the third quarter has lines: $(cat "$work/q3.csv")"
grep -q "CAP LIQUIDACIÓ AL PERÍODE" "$work/q3.err" || fail "the third quarter does not say it has no pass"
taxes --year=2026 --quarter=2 >"$work/q2.txt" || fail "taxes --quarter=2"
grep -q "trimestre 2 de 2026 (01/04/2026 a 30/06/2026)" "$work/q2.txt" || fail "the second quarter's period"
taxes --year=2026 --quarter=1 --html >"$work/q1.html" || fail "taxes --quarter=1 --html"
grep -q '^<!DOCTYPE html>' "$work/q1.html" && grep -q '</html>' "$work/q1.html" || fail "the page is not whole"
grep -q '<tr class="total">' "$work/q1.html" || fail "the page has no totals"

# ---- The CSV against the passes' statements ------------------------------------------
# Each quarter's totals are what its pass's statement charged, summed here
# once per property (the statement repeats the property's figures on each
# owner's line).
for q in 1 2; do
  "$SETTLEMENTS" --root="$root" show $q --csv >"$work/show$q.csv" || fail "show $q --csv"
  for name in honoraris_base iva retencio; do
    shown=$(awk -F, -v c="$(column "$work/show$q.csv" $name)" 'NR > 1 && !seen[$3]++ { s += $c } END { print s + 0 }' \
      "$work/show$q.csv")
    reported=$(sum_rows "$work/q$q.csv" $name)
    [ "$shown" = "$reported" ] || fail "quarter $q, $name: the statement charged $shown, the report says $reported"
    [ "$reported" = "$(total_of "$work/q$q.csv" $name)" ] || fail "quarter $q, $name: the TOTAL line differs"
  done
done
[ "$(sum_rows "$work/q1.csv" retencio)" -gt 0 ] || fail "no withholding in the first quarter"
taxes --year=2026 --csv >"$work/year.csv" || fail "taxes --year --csv"
for column in iva retencio; do
  [ "$(sum_rows "$work/year.csv" $column)" = $(($(sum_rows "$work/q1.csv" $column) + $(sum_rows "$work/q2.csv" $column))) ] ||
    fail "the year's $column is not the sum of its quarters"
done

# ---- Per owner -----------------------------------------------------------------------------
taxes --year=2026 --owners --property=1 --csv >"$work/owners1.csv" || fail "taxes --owners --csv"
for name in iva retencio; do
  [ "$(sum_rows "$work/owners1.csv" $name)" = "$(sum_rows "$work/year.csv" $name 0001)" ] ||
    fail "the owners' $name of property 1 does not add up to the property's"
done
taxes --year=2026 --owners --property=1 >"$work/owners1.txt" || fail "taxes --owners"
grep -q "residu més gran" "$work/owners1.txt" || fail "the owners' report does not say its rule"
grep -qE '^  0001\.0001 ' "$work/owners1.txt" || { fail "owner 0001.0001 is not listed:"; cat "$work/owners1.txt"; }
taxes --year=2026 --owners --html >"$work/owners.html" || fail "taxes --owners --html"
grep -q '<table class="owners">' "$work/owners.html" || fail "the owners' page has no table"

# ---- The journal keeps the rates ------------------------------------------------------------
sed -i 's/^Honoraris=22/Honoraris=30/' "$root/Vork.ini"
taxes --year=2026 --csv >"$work/year_again.csv" || fail "taxes after Vork.ini changed"
cmp -s "$work/year.csv" "$work/year_again.csv" || fail "a rate changed in Vork.ini changed the report"

finish "taxes: passed"
