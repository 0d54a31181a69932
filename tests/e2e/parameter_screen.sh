#!/usr/bin/env bash
# parameter_screen.sh - the program in a real terminal: the parameter screen
# with its defaults and its captions in each language, moving through the
# fields with Enter, Down and Up, and leaving with Escape (exit code 0).
#
# The program runs inside a tmux server of its own (80 x 25); the screen is
# read back with capture-pane and polled until a deadline instead of waiting
# fixed times.  On a failure the captured screen is printed.
set -u

BIN="${TARPELIX_BINARY_DIR:?TARPELIX_BINARY_DIR is not set}/tarpelix"
SRC="${TARPELIX_SOURCE_DIR:?TARPELIX_SOURCE_DIR is not set}"
DEADLINE_SECONDS=10

command -v tmux >/dev/null || { echo "tmux is not installed"; exit 1; }
[ -x "$BIN" ] || { echo "no program at $BIN"; exit 1; }

work=$(mktemp -d /tmp/tarpelix_e2e.XXXXXX)
socket=""  # one tmux server per language, each on its own socket
export LANG=C.UTF-8 LC_ALL=C.UTF-8
tm() { tmux -S "$socket" "$@"; }
cleanup() {
  for s in "$work"/*.socket; do [ -S "$s" ] && tmux -S "$s" kill-server >/dev/null 2>&1; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
screen_text=""

capture() { screen_text=$(tm capture-pane -p -t e2e 2>/dev/null); }

fail() {
  echo "FAIL [$language]: $*"
  echo "---- screen ----"
  capture
  printf '%s\n' "$screen_text"
  echo "----------------"
  failures=$((failures + 1))
}

# Polls the screen until it shows the text (fixed string), or the deadline.
wait_for_text() {
  local text=$1 end=$((SECONDS + DEADLINE_SECONDS))
  while :; do
    capture
    if grep -qF -- "$text" <<<"$screen_text"; then return 0; fi
    [ "$SECONDS" -ge "$end" ] && return 1
    sleep 0.1
  done
}

# The same for an extended regular expression.
wait_for_pattern() {
  local pattern=$1 end=$((SECONDS + DEADLINE_SECONDS))
  while :; do
    capture
    if grep -qE -- "$pattern" <<<"$screen_text"; then return 0; fi
    [ "$SECONDS" -ge "$end" ] && return 1
    sleep 0.1
  done
}

# The screen row (1-based) of the first line holding the text, or 0.
row_of() {
  capture
  local line
  line=$(grep -nF -- "$1" <<<"$screen_text" | head -n1 | cut -d: -f1)
  echo "${line:-0}"
}

# Waits until the cursor stands on the row of the label (the field being
# edited).
wait_for_cursor_on() {
  local label=$1 end=$((SECONDS + DEADLINE_SECONDS)) want cursor
  while :; do
    want=$(row_of "$label")
    cursor=$(($(tm display-message -p -t e2e '#{cursor_y}') + 1))
    [ "$want" -ne 0 ] && [ "$cursor" -eq "$want" ] && return 0
    if [ "$SECONDS" -ge "$end" ]; then
      fail "cursor on row $cursor, expected the row of \"$label\" ($want)"
      return 1
    fi
    sleep 0.1
  done
}

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
# The demo station's working date (TMP/VorkTerm.ini, Sistema, Data=20261231).
DATE_SHOWN="31/12/2026"

for language in CAT SPA GLG OCI; do
  root="$work/$language"
  mkdir -p "$root"
  cp -R "$SRC/demo/." "$root/"
  # The data files are created from the dictionaries on first use, in the
  # suite's data folder.
  mkdir -p "$root/TMP" "$root/DADES"
  [ -f "$root/TMP/VorkTerm.ini" ] || : >"$root/TMP/VorkTerm.ini"
  set_language "$root/TMP/VorkTerm.ini" "$language"
  exit_file="$root/exit.code"

  socket="$work/$language.socket"
  tm new-session -d -s e2e -x 80 -y 25 \
    "cd '$root' && KALROOT='$root/' KALTMP='$root/TMP/' '$BIN'; echo EXIT=\$? > '$exit_file'; sleep 30"

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
  # Defaults: the session date, first property 1, last property 999,
  # carry-over concept 3 (not in the concept file).
  grep -qE -- "$label2[^0-9]*1( |$)" <<<"$screen_text" || fail "default first property 1 missing"
  grep -qE -- "$label3[^0-9]*999( |$)" <<<"$screen_text" || fail "default last property 999 missing"
  grep -qE -- "$label4[^0-9]*3( |$)" <<<"$screen_text" || fail "default concept 3 missing"

  # Through the fields: Enter and Down go forward, Up goes back.  Leaving
  # the date field stores it and shows it as a date.
  wait_for_cursor_on "$label1"
  tm send-keys -t e2e Enter
  wait_for_cursor_on "$label2"
  wait_for_pattern "$label1 *$DATE_SHOWN" || fail "default date $DATE_SHOWN missing"
  tm send-keys -t e2e Down
  wait_for_cursor_on "$label3"
  tm send-keys -t e2e Up
  wait_for_cursor_on "$label2"
  tm send-keys -t e2e Enter
  wait_for_cursor_on "$label3"
  # A typed digit shows; Escape drops it and goes back to the first field.
  tm send-keys -t e2e 7
  wait_for_pattern "${label3} *799" || fail "the typed digit is not shown"
  tm send-keys -t e2e Escape
  wait_for_cursor_on "$label1"
  wait_for_pattern "$label3[^0-9]*999( |$)" || fail "Escape did not restore 999"
  # PgDn goes to the last field (the concept; the demo's concept file is
  # empty, so it could only be left with Escape), Escape back to the first.
  tm send-keys -t e2e PgDn
  wait_for_cursor_on "$label4"
  tm send-keys -t e2e Escape
  wait_for_cursor_on "$label1"
  # Escape on the first field leaves the program.
  tm send-keys -t e2e Escape
  end=$((SECONDS + DEADLINE_SECONDS))
  while [ ! -s "$exit_file" ] && [ "$SECONDS" -lt "$end" ]; do sleep 0.1; done
  if [ ! -s "$exit_file" ]; then
    fail "the program did not end after Escape"
  elif ! grep -qx "EXIT=0" "$exit_file"; then
    fail "exit code: $(cat "$exit_file")"
  fi
  tm kill-server >/dev/null 2>&1
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "parameter screen: all languages passed"
