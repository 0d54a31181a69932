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
socket="$work/tmux.socket"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
tm() { tmux -S "$socket" "$@"; }
cleanup() {
  tm kill-server >/dev/null 2>&1
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

wait_for_no_text() {
  local text=$1 end=$((SECONDS + DEADLINE_SECONDS))
  while :; do
    capture
    if ! grep -qF -- "$text" <<<"$screen_text"; then return 0; fi
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

# The captions of the parameter screen per language: the four labels as the
# terminal shows them (UTF-8).
declare -A LABEL1 LABEL2 LABEL3 LABEL4
LABEL1[CAT]="Data de liquidaci""ó"
LABEL2[CAT]="Primera finca"
LABEL3[CAT]="Darrera finca"
LABEL4[CAT]="Concepte de r""òssec"

for language in CAT SPA GLG OCI; do
  root="$work/$language"
  mkdir -p "$root"
  cp -R "$SRC/demo/." "$root/"
  mkdir -p "$root/TMP"
  [ -f "$root/TMP/VorkTerm.ini" ] || : >"$root/TMP/VorkTerm.ini"
  set_language "$root/TMP/VorkTerm.ini" "$language"
  exit_file="$root/exit.code"

  tm kill-server >/dev/null 2>&1
  tm new-session -d -s e2e -x 80 -y 25 \
    "cd '$root' && KALROOT='$root/' KALTMP='$root/TMP/' '$BIN'; echo EXIT=\$? > '$exit_file'; sleep 30"

  label1=${LABEL1[$language]:-${LABEL1[CAT]}}
  label2=${LABEL2[$language]:-${LABEL2[CAT]}}
  label3=${LABEL3[$language]:-${LABEL3[CAT]}}
  label4=${LABEL4[$language]:-${LABEL4[CAT]}}

  if ! wait_for_text "$label4"; then
    fail "the parameter screen did not appear"
    continue
  fi
  for label in "$label1" "$label2" "$label3" "$label4"; do
    grep -qF -- "$label" <<<"$screen_text" || fail "label \"$label\" missing"
  done
  # Defaults: first property 1, last property 999, carry-over concept 3.
  grep -qE -- "$label2[^0-9]*1( |$)" <<<"$screen_text" || fail "default first property 1 missing"
  grep -qE -- "$label3[^0-9]*999( |$)" <<<"$screen_text" || fail "default last property 999 missing"
  grep -qE -- "$label4[^0-9]*3( |$)" <<<"$screen_text" || fail "default concept 3 missing"

  # Through the fields: Enter and Down go forward, Up goes back.
  wait_for_cursor_on "$label1"
  tm send-keys -t e2e Enter
  wait_for_cursor_on "$label2"
  tm send-keys -t e2e Down
  wait_for_cursor_on "$label3"
  tm send-keys -t e2e Up
  wait_for_cursor_on "$label2"
  tm send-keys -t e2e Enter
  wait_for_cursor_on "$label3"
  tm send-keys -t e2e Enter
  wait_for_cursor_on "$label4"
  tm send-keys -t e2e Up
  wait_for_cursor_on "$label3"
  # A typed digit shows; Escape drops it and goes back to the first field.
  tm send-keys -t e2e 7
  wait_for_text "799" || fail "the typed digit is not shown"
  tm send-keys -t e2e Escape
  wait_for_cursor_on "$label1"
  grep -qE -- "$label3[^0-9]*999( |$)" <<<"$screen_text" || fail "Escape did not restore 999"
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
