#!/usr/bin/env bash
# terminal_console.sh - the terminal console in a real terminal (tmux).
#
# Runs tests/terminal_console_demo in a detached tmux session of 100 x 30 and
# checks: the frame, accents and glyphs arrive as the right characters, the
# palette's colours as the right ANSI colours, the cursor where it was put;
# the keys tmux sends (arrows, F-keys with modifiers, Alt+letters, Ctrl+C,
# Escape, UTF-8 text, a bracketed paste, a mouse click) arrive as the PC key
# codes; a terminal made too small shows the request to enlarge it and a
# resize back redraws everything, at exactly 80 x 25 the last cell is
# drawn without scrolling; after Ctrl+Q the terminal's modes are as
# before.  Waits poll the pane until a deadline; a failure prints the screen.
set -u

BIN="${TARPELIX_BINARY_DIR:-build}/tests/terminal_console_demo"
if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIPPED: tmux is not installed"
  exit 0
fi
if [ ! -x "$BIN" ]; then
  echo "FAIL: $BIN is not built"
  exit 1
fi

export LC_ALL=C.UTF-8  # for tmux's own output; the program runs without a locale
WORK=$(mktemp -d)
SOCKET="tarpelix-term-$$"
LOG="$WORK/events.log"
: >"$LOG"

T() { tmux -u -L "$SOCKET" -f /dev/null "$@"; }
SOCKET_PATH=""
cleanup() {
  T kill-server >/dev/null 2>&1
  [ -n "$SOCKET_PATH" ] && rm -f "$SOCKET_PATH"
  rm -rf "$WORK"
}
trap cleanup EXIT

screen() { T capture-pane -p -t demo 2>/dev/null; }
fail() {
  echo "FAIL: $*"
  echo "--- screen ---"
  screen
  echo "--- events ---"
  cat "$LOG"
  exit 1
}

# until COMMAND...: retries the command until it succeeds, for 10 seconds.
until_ok() {
  local deadline=$((SECONDS + 10))
  while ((SECONDS < deadline)); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}
screen_has() { screen | grep -qF -- "$1"; }
screen_lacks() { ! screen | grep -qF -- "$1"; }
log_lines() { wc -l <"$LOG"; }
log_longer_than() { (($(log_lines) > $1)); }

# key TMUXKEY EXPECTED [send-keys options]: sends one key and checks the event.
key() {
  local name="$1" expected="$2"
  shift 2
  local before
  before=$(log_lines)
  T send-keys -t demo "$@" "$name"
  until_ok log_longer_than "$before" || fail "no event for $name"
  local got
  got=$(sed -n "$((before + 1))p" "$LOG")
  [ "$got" = "$expected" ] || fail "$name gave '$got', expected '$expected'"
}

T new-session -d -x 100 -y 30 -s demo \
  "stty -g >'$WORK/modes.before'; env -u LANG -u LC_CTYPE -u LC_ALL '$BIN' '$LOG'; echo \$? >'$WORK/exit'; stty -g >'$WORK/modes.after'; sleep 600" ||
  fail "tmux did not start"
SOCKET_PATH=$(T display -p '#{socket_path}')

# ---- Drawing -------------------------------------------------------------------
until_ok screen_has "READY" || fail "the demo screen did not appear"
screen_has "    ╔══════════════════════════════════════╗" || fail "top of the double frame"
screen_has "    ║ Liquidació de quotes                 ║" || fail "title with its accent"
screen_has "    ║ ► Opció ◄                            ║" || fail "glyphs of the bytes 0x10 and 0x11"
screen_has "    ║ ░▒▓█" || fail "shading blocks"
screen_has "    ╚══════════════════════════════════════╝" || fail "bottom of the double frame"

colours=$(T capture-pane -p -e -t demo)
row() { sed -n "$1p" <<<"$colours"; }
row 3 | grep -qF $'\e[97m\e[44m' || fail "frame is not bright white on blue: $(row 3 | cat -v)"
row 3 | grep -qF $'\e[93mLiquidaci' || fail "title is not yellow: $(row 3 | cat -v)"
# PC palette order (blue 1, red 4, brown 6) against ANSI (red 1, blue 4, yellow 3).
expected_palette=$'\e[30m0\e[34m1\e[32m2\e[36m3\e[31m4\e[35m5\e[33m6\e[37m7\e[90m8\e[94m9\e[92mA\e[96mB\e[91mC\e[95mD\e[93mE\e[97mF'
row 10 | grep -qF "$expected_palette" || fail "palette row: $(row 10 | cat -v)"
row 11 | grep -qF $'\e[44m \e[42m \e[46m \e[41m \e[45m \e[43m \e[47m ' || fail "background row: $(row 11 | cat -v)"
cursor=$(T display -p -t demo '#{cursor_x},#{cursor_y}')
[ "$cursor" = "39,19" ] || fail "cursor at $cursor, expected column 40 row 20 (39,19)"

# ---- Keys ------------------------------------------------------------------------
key Up "K 4800"
key Down "K 5000"
key Left "K 4B00"
key Right "K 4D00"
key Home "K 4700"
key End "K 4F00"
key PPage "K 4900"
key NPage "K 5100"
key IC "K 5200"
key DC "K 5300"
key F1 "K 3B00"
key F4 "K 3E00"
key F5 "K 3F00"
key F10 "K 4400"
key F11 "K 8500"
key F12 "K 8600"
key S-F5 "K 5800"
key C-F5 "K 6200"
key M-F5 "K 6C00"
key S-F12 "K 8800"
key C-Left "K 7300"
key C-Right "K 7400"
key C-Home "K 7700"
key C-End "K 7500"
key C-PPage "K 8400"
key C-NPage "K 7600"
key C-Up "K 8D00"
key C-Down "K 9100"
key M-a "K 1E00"
key M-x "K 2D00"
key M-c "K 2E00"
key M-e "K 1200"
key M-1 "K 7800"
key M-0 "K 8100"
key C-c "K 0003"
key C-v "K 0016"
key BTab "K 0F00"
key Enter "K 000D"
key Tab "K 0009"
key BSpace "K 0008"
key Escape "K 001B"
key a "K 0061"
key "é" "K 0082" -l
key "ñ" "K 00A4" -l
key $'\e[<0;10;5M' "M 1 10 5" -l
# A click beside the console is not an event: the next event is the key after it.
T send-keys -t demo -l $'\e[<0;90;5M'
key q "K 0071"
screen_has "Last: 'q'" || fail "the demo did not show the last key"

before=$(log_lines)
T set-buffer -b clip $'ab\ncé'
T paste-buffer -p -b clip -t demo
until_ok log_longer_than $((before + 4)) || fail "the paste did not arrive"
pasted=$(sed -n "$((before + 1)),\$p" "$LOG" | tr '\n' ' ')
[ "$pasted" = "K 0061 K 0062 K 000D K 0063 K 0082 " ] || fail "paste gave: $pasted"

# ---- Resizing -----------------------------------------------------------------------
T resize-window -t demo -x 60 -y 20
until_ok screen_has "Ampliau el terminal a 80 x 25 (ara 60 x 20)" || fail "no request to enlarge"
screen_has "Enlarge the terminal to 80 x 25 (now 60 x 20)" || fail "no English request to enlarge"
T send-keys -t demo z  # typed blind: dropped
T resize-window -t demo -x 100 -y 30
until_ok screen_has "    ║ Liquidació de quotes                 ║" || fail "no redraw after enlarging"
until_ok screen_lacks "Ampliau" || fail "the request stayed on the screen"
key k "K 006B"
# Exactly 80 x 25: the last cell is drawn and nothing scrolls.
T resize-window -t demo -x 80 -y 25
until_ok screen_has "$(printf '%79s#' '')" || fail "no mark in the last cell at 80 x 25"
[ "$(screen | sed -n 2p)" = "    ╔══════════════════════════════════════╗" ] || fail "the screen scrolled at 80 x 25"

# ---- Leaving -------------------------------------------------------------------------
T send-keys -t demo C-q
until_ok test -s "$WORK/modes.after" || fail "the demo did not end"
[ "$(cat "$WORK/exit")" = 0 ] || fail "the demo ended with status $(cat "$WORK/exit")"
cmp -s "$WORK/modes.before" "$WORK/modes.after" ||
  fail "terminal modes changed: $(cat "$WORK/modes.before") -> $(cat "$WORK/modes.after")"
until_ok screen_lacks "Liquidació" || fail "the normal screen did not come back"

echo "PASS: terminal console in tmux ($(log_lines) events checked)"
