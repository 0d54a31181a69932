#!/usr/bin/env bash
# popups.sh - the pop-ups of the parameter screen in a real terminal:
#   F1     shows the help of the menu topic; Esc returns to the same field
#   Alt+C  the calendar's picked date replaces what the date field held,
#          even in insert mode with the cursor inside it
#   F4     the property list shows the demo properties and stores the pick
#   Alt+X  the calculator computes 12 + 30 = and F types the result into
#          the date field as it is, 42 (an amount field would get 4200)
#
# The program runs inside a tmux server of its own (80 x 25) on a copy of
# the demo suite root; the screen is read back with capture-pane and polled
# until a deadline instead of waiting fixed times.  On a failure the
# captured screen is printed.  The property list needs demo properties:
# they come from tools/demodata when it has been built, else a few are
# loaded with tools/recutil; without either the list is only opened and
# closed, and the pick is skipped with a message.
set -u
. "$(dirname "$0")/lib.bash"

BIN="${TARPELIX_BINARY_DIR:?TARPELIX_BINARY_DIR is not set}/tarpelix"
DEMODATA="$TARPELIX_BINARY_DIR/tools/demodata"
RECUTIL="$TARPELIX_BINARY_DIR/tools/recutil"
require_programs "$BIN"
make_work tarpelix_popups

LABEL_DATE="DATA DE LIQUIDACIÓ :"
LABEL_FIRST=" DE LA FINCA :"
LABEL_LAST="FINS A LA FINCA :"
HELP_TITLE="LIQUIDACIÓ D'HONORARIS I TANCAMENT DEL PERÍODE"

root="$work/suite"
make_suite_root "$root"
# A property record of the demo file (388 bytes) as hexadecimal: the packed
# code, 4 bytes not used here, the description; amounts zero, texts blank.
hex_of() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }
zeros() { printf '%0*d' $(($1 * 2)) 0; }
property_hex() {
  local code=$1 description=$2
  printf '%02x%02x' $((128 + code / 100)) $((128 + code % 100))
  zeros 4
  hex_of "$(printf '%-30.30s' "$description")"
  zeros 132
  for _ in 1 2 3 4 5; do hex_of "$(printf '%30s' '')"; zeros 4; done
  hex_of "$(printf '%30s' '')"
  hex_of "$(printf '%17s' '')"
  zeros 3
  echo
}

have_properties=0
expected_line=""  # a list line known in advance (the loaded properties)
if [ -x "$DEMODATA" ]; then
  if "$DEMODATA" --root "$root/" >"$work/demodata.log" 2>&1; then
    have_properties=1
  else
    echo "FAIL: demodata could not fill the demo data:"; cat "$work/demodata.log"
    failures=$((failures + 1))
  fi
elif [ -x "$RECUTIL" ]; then
  # No demo data generator: four properties loaded with the record utility
  # into a property file created from the demo dictionary.
  file="$root/DADES/FinquesH.dat"
  {
    property_hex 1 "COMUNITAT CARRER MAJOR 12"
    property_hex 2 "COMUNITAT PLACA NOVA 3"
    property_hex 5 "EDIFICI ELS PINS"
    property_hex 12 "COMUNITAT RAMBLA 40"
  } >"$work/properties.hex"
  if "$RECUTIL" create "$file" "$root/ddf/FinquesH.xdf" >"$work/recutil.log" 2>&1 &&
     "$RECUTIL" load "$file" <"$work/properties.hex" >>"$work/recutil.log" 2>&1; then
    have_properties=1
    expected_line="║0002  COMUNITAT PLACA NOVA 3"
  else
    echo "FAIL: recutil could not load the demo properties:"; cat "$work/recutil.log"
    failures=$((failures + 1))
  fi
fi
exit_file="$work/exit.code"

start_suite "$root" "$BIN" "$exit_file"

wait_for_text "$LABEL_LAST" || fatal "the parameter screen did not appear"
wait_for_cursor_on "$LABEL_DATE"

# ---- F1: help of the menu topic, Esc back to the same field -------------------
keys F1
wait_for_text "$HELP_TITLE" || fail "F1 did not show the help of TARPELIX"
wait_for_text "QUÈ FA LA LIQUIDACIÓ" || fail "the help text is not shown"
keys PgDn
wait_for_text "MENTRE ES LIQUIDA I DESPRÉS" || fail "PgDn in the help did not show the next page"
keys Escape
wait_for_no_text "MENTRE ES LIQUIDA I DESPRÉS" || fail "Esc did not close the help"
wait_for_text "$LABEL_LAST" || fail "the parameter screen was not restored after the help"
wait_for_cursor_on "$LABEL_DATE"

# ---- Alt+C: the calendar's date replaces the field's text -------------------------
keys C-y
keys -l 150523
keys Insert Left Left
keys M-c
wait_for_text "DESEMBRE" || fail "Alt+C did not open the calendar on December"
wait_for_text "DL DT DC DJ DV DS DG" || fail "the calendar has no weekday header"
# From 31 December one day left: 30 December.
# The keys reach the calendar in the order sent: no wait between them.
keys Left F
wait_for_no_text "DESEMBRE" || fail "F did not close the calendar"
wait_for_pattern "${LABEL_DATE} *30/12/2026( |$)" || fail "the picked date 30/12/2026 did not replace the field's text"
keys Insert Enter
wait_for_cursor_on "$LABEL_FIRST"
wait_for_pattern "${LABEL_DATE} *30/12/2026" || fail "the picked date was not stored"

# ---- F4: the property list ------------------------------------------------------------
keys F4
LIST_TITLE="╔ FINQUES ═"
if ! wait_for_text "$LIST_TITLE"; then
  fail "F4 did not open the property list"
elif [ "$have_properties" -eq 1 ]; then
  if ! wait_for_pattern "║[0-9]{4}  [^ ]"; then
    fail "the property list shows no demo property"
  elif [ -n "$expected_line" ] && ! wait_for_text "$expected_line"; then
    fail "the property list does not show \"$expected_line\""
  else
    # The second line of the list is picked: its code is stored in the field.
    code=$(grep -oE "║[0-9]{4}  " <<<"$screen_text" | sed -n 2p | grep -oE "[0-9]{4}")
    [ -n "$code" ] || code=$(grep -oE "║[0-9]{4}  " <<<"$screen_text" | sed -n 1p | grep -oE "[0-9]{4}")
    keys Down Enter
    wait_for_no_text "$LIST_TITLE" || fail "Enter did not close the property list"
    wait_for_pattern "${LABEL_FIRST} *${code}( |$)" || fail "the picked property $code was not stored in the field"
    wait_for_cursor_on "$LABEL_LAST"
    keys Up
    wait_for_cursor_on "$LABEL_FIRST"
  fi
else
  echo "SKIP: neither tools/demodata nor tools/recutil is built, so the demo has no properties; the property list is only opened and closed"
  keys Escape
  wait_for_no_text "$LIST_TITLE" || fail "Esc did not close the property list"
  wait_for_pattern "${LABEL_FIRST} *1( |$)" || fail "Esc in the list changed the field"
  wait_for_cursor_on "$LABEL_FIRST"
fi

# ---- Alt+X: the calculator types its result --------------------------------------
keys Up
wait_for_cursor_on "$LABEL_DATE"
keys C-y
keys M-x
wait_for_text "└────────────────────────┘" || fail "Alt+X did not open the calculator"
keys -l "12+"
wait_for_pattern "│ +12 \+│" || fail "12 + did not reach the calculator's tape"
keys -l "30="
wait_for_pattern "│ +42  │" || fail "12 + 30 = did not show 42 on the calculator"
wait_for_pattern "│ +30 =│" || fail "the tape does not show 30 ="
keys F
wait_for_no_text "└────────────────────────┘" || fail "F did not close the calculator"
wait_for_pattern "${LABEL_DATE} *42( |$)" || fail "the result 42 was not typed into the date field as it is"
# The demo station names no terminal folder (and TERM is no folder), so the
# tape is kept in the current directory, the suite root.
[ -f "$root/KALCALC.TMP" ] || [ -f "$root/TMP/KALCALC.TMP" ] ||
  fail "the calculator left no tape file"

# Escape on the first field drops the typed text and leaves the program.
keys Escape
expect_exit_zero "$exit_file"

finish "pop-ups: all passed"
