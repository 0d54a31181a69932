#!/usr/bin/env bash
# parameter_screen.sh - the program in a real terminal: the parameter screen
# with its defaults and its captions in each language, moving through the
# fields with Enter, Down and Up, and leaving with Escape (exit code 0).
#
# The program runs inside a tmux server of its own (80 x 25); the screen is
# read back with capture-pane and polled until a deadline instead of waiting
# fixed times.  On a failure the captured screen is printed.
set -u
. "$(dirname "$0")/lib.bash"

BIN="${TARPELIX_BINARY_DIR:?TARPELIX_BINARY_DIR is not set}/tarpelix"
require_programs "$BIN"
make_work tarpelix_e2e

# Sets "Idioma" in section "Sistema" of a settings file (CR LF lines).
set_language() {
  local file=$1 code=$2
  awk -v code="$code" '
    { sub(/\r$/, "") }
    /^[ \t]*\[/ {
      if (in_section && !done) { printf "Idioma=%s\r\n", code; done = 1 }
      name = $0; sub(/^[ \t]*\[[ \t]*/, "", name); sub(/[ \t]*\].*$/, "", name)
      in_section = (toupper(name) == "SISTEMA")
    }
    in_section && toupper($0) ~ /^[ \t]*IDIOMA[ \t]*=/ {
      if (!done) { printf "Idioma=%s\r\n", code; done = 1 }
      next
    }
    { printf "%s\r\n", $0 }
    END {
      if (in_section && !done) { printf "Idioma=%s\r\n", code; done = 1 }
      if (!done) printf "[Sistema]\r\nIdioma=%s\r\n", code
    }' "$file" >"$file.new" && mv "$file.new" "$file"
}

# What the parameter screen shows per language (UTF-8, as the terminal
# shows it): the four captions of the demo form, as translated by the demo
# language file, and the text shown for a concept the (empty) concept file
# does not hold.
declare -A LABEL1 LABEL2 LABEL3 LABEL4 NO_CONCEPT
LABEL1[CAT]="DATA DE LIQUIDACIÓ :";    LABEL1[SPA]="FECHA DE LIQUIDACIÓN :"
LABEL1[GLG]="DATA DE LIQUIDACIÓN :";   LABEL1[OCI]="DATA DE LIQUIDACION :"
LABEL2[CAT]=" DE LA FINCA :";          LABEL2[SPA]="DESDE LA FINCA :"
LABEL2[GLG]="DESDE A FINCA :";         LABEL2[OCI]="DES DERA FINCA :"
LABEL3[CAT]="FINS A LA FINCA :";       LABEL3[SPA]="HASTA LA FINCA :"
LABEL3[GLG]=" ATA A FINCA :";          LABEL3[OCI]="ENQUIA ERA FINCA :"
LABEL4[CAT]="CONCEPTE RÒSSEC :";       LABEL4[SPA]="CONCEPTO ARRASTRE :"
LABEL4[GLG]="CONCEPTO ARRASTRE :";     LABEL4[OCI]="CONCÈPTE DE REPÒRT :"
NO_CONCEPT[CAT]="*** conc.no def. ***"; NO_CONCEPT[SPA]="*** conc.no def. ***"
NO_CONCEPT[GLG]="*** conc.non def.***"; NO_CONCEPT[OCI]="*** conc.non def.***"
TITLE="ADMINISTRACIÓ DE FINQUES - LIQUIDACIÓ D'HONORARIS"
# The key line on the last row, from the form file, translated.
declare -A KEY_LINE
KEY_LINE[CAT]="F1 AJUDA   F4 LLISTA   ALT+C CALENDARI   ALT+X CALCULADORA   ESC TORNA O SURT"
KEY_LINE[SPA]="F1 AYUDA   F4 LISTA   ALT+C CALENDARIO   ALT+X CALCULADORA   ESC VUELVE O SALE"
KEY_LINE[GLG]="F1 AXUDA   F4 LISTA   ALT+C CALENDARIO   ALT+X CALCULADORA   ESC VOLVE OU SAE"
KEY_LINE[OCI]="F1 AJUDA   F4 LISTA   ALT+C CALENDARI   ALT+X CALCULADORA   ESC TORNE O GES"
# The title of the help F1 shows, from the language's own help folder.
declare -A HELP_TITLE
HELP_TITLE[CAT]="LIQUIDACIÓ D'HONORARIS I TANCAMENT DEL PERÍODE"
HELP_TITLE[SPA]="LIQUIDACIÓN DE HONORARIOS Y CIERRE DEL PERÍODO"
HELP_TITLE[GLG]="LIQUIDACIÓN DE HONORARIOS E PECHE DO PERÍODO"
HELP_TITLE[OCI]="LIQUIDACION D'ONORARIS E BARRADA DETH PERÍODE"
# The demo station's working date (TMP/VorkTerm.ini, Sistema, Data=20261231).
DATE_SHOWN="31/12/2026"

for language in CAT SPA GLG OCI; do
  fail_context=$language
  root="$work/$language"
  # The data files are created from the dictionaries on first use, in the
  # suite's data folder.
  make_suite_root "$root"
  [ -f "$root/TMP/VorkTerm.ini" ] || : >"$root/TMP/VorkTerm.ini"
  set_language "$root/TMP/VorkTerm.ini" "$language"
  exit_file="$root/exit.code"

  # One tmux server per language, each on its own socket.
  socket="$work/$language.socket"
  start_suite "$root" "$BIN" "$exit_file"

  label1=${LABEL1[$language]}
  label2=${LABEL2[$language]}
  label3=${LABEL3[$language]}
  label4=${LABEL4[$language]}

  # The description of the last field is the last thing drawn.
  if ! wait_for_text "${NO_CONCEPT[$language]}"; then
    fail "the parameter screen did not appear"
    continue
  fi
  for label in "$label1" "$label2" "$label3" "$label4"; do
    grep -qF -- "$label" <<<"$screen_text" || fail "label \"$label\" missing"
  done
  grep -qF -- "$TITLE" <<<"$(head -n1 <<<"$screen_text")" || fail "title missing from row 1"
  grep -qF -- "${KEY_LINE[$language]}" <<<"$(sed -n 25p <<<"$screen_text")" || fail "key line missing from row 25"
  # Defaults: the session date, first property 1, last property 9999,
  # carry-over concept 3 (not in the concept file).
  grep -qE -- "${label2}[^0-9]*1( |$)" <<<"$screen_text" || fail "default first property 1 missing"
  grep -qE -- "${label3}[^0-9]*9999( |$)" <<<"$screen_text" || fail "default last property 9999 missing"
  grep -qE -- "${label4}[^0-9]*3( |$)" <<<"$screen_text" || fail "default concept 3 missing"

  # Through the fields: Enter and Down go forward, Up goes back.  Leaving
  # the date field stores it and shows it as a date.
  wait_for_cursor_on "$label1"
  keys Enter
  wait_for_cursor_on "$label2"
  wait_for_pattern "$label1 *$DATE_SHOWN" || fail "default date $DATE_SHOWN missing"
  keys Down
  wait_for_cursor_on "$label3"
  keys Up
  wait_for_cursor_on "$label2"
  keys Enter
  wait_for_cursor_on "$label3"
  # A typed digit shows; Escape drops it and goes back to the first field.
  keys 7
  wait_for_pattern "${label3} *7999" || fail "the typed digit is not shown"
  keys Escape
  wait_for_cursor_on "$label1"
  wait_for_pattern "${label3}[^0-9]*9999( |$)" || fail "Escape did not restore 9999"
  # F1: the help in the session's language; Escape back to the field.
  keys F1
  wait_for_text "${HELP_TITLE[$language]}" || fail "F1 did not show the help in $language"
  keys Escape
  wait_for_no_text "${HELP_TITLE[$language]}" || fail "Escape did not close the help"
  wait_for_cursor_on "$label1"
  # PgDn goes to the last field (the concept; the demo's concept file is
  # empty, so it could only be left with Escape), Escape back to the first.
  keys PgDn
  wait_for_cursor_on "$label4"
  keys Escape
  wait_for_cursor_on "$label1"
  # Escape on the first field leaves the program.
  keys Escape
  expect_exit_zero "$exit_file"
  tm kill-server >/dev/null 2>&1
done

finish "parameter screen: all languages passed"
