#!/usr/bin/env bash
# terminal_console.sh - the terminal console in a real terminal (tmux).
#
# Runs tests/terminal_console_demo in a detached tmux session of 100 x 30 and
# checks: the console is centred (10 columns and 2 rows from the corner) and
# a click is translated to it; the frame, accents and glyphs arrive as the
# right characters, the
# palette's colours as the right ANSI colours, the cursor where it was put;
# the keys tmux sends (arrows, F-keys with modifiers, Alt+letters, Ctrl+C,
# Escape, UTF-8 text, a bracketed paste, a mouse click) arrive as the PC key
# codes; a terminal made too small shows the request to enlarge it and a
# resize back redraws everything, at exactly 80 x 25 the last cell is
# drawn without scrolling; after Ctrl+Q the terminal's modes are as
# before.  Waits poll the pane until a deadline; a failure prints the screen.
set -u
. "$(dirname "$0")/lib.bash"

BIN="${TARPELIX_BINARY_DIR:-build}/tests/terminal_console_demo"
if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIPPED: tmux is not installed"
  exit 0
fi
require_programs "$BIN"
make_work tarpelix_term
LOG="$work/events.log"
: >"$LOG"
fail_log=$LOG  # a failure shows the events that arrived

log_lines() { wc -l <"$LOG"; }
log_longer_than() { (($(log_lines) > $1)); }

# key TMUXKEY EXPECTED [send-keys options]: sends one key and checks the event.
key() {
  local name="$1" expected="$2"
  shift 2
  local before
  before=$(log_lines)
  keys "$@" "$name"
  until_ok log_longer_than "$before" || fatal "no event for $name"
  local got
  got=$(sed -n "$((before + 1))p" "$LOG")
  [ "$got" = "$expected" ] || fatal "$name gave '$got', expected '$expected'"
}

# The program runs without a locale; its status goes to "exit" before the
# terminal's modes are read again.
start_session 100 30 \
  "stty -g >'$work/modes.before'; env -u LANG -u LC_CTYPE -u LC_ALL '$BIN' '$LOG'; echo EXIT=\$? >'$work/exit'; stty -g >'$work/modes.after'; sleep 600" ||
  fatal "tmux did not start"

# ---- Drawing -------------------------------------------------------------------
wait_for_text "READY" || fatal "the demo screen did not appear"
screen_has "    ╔══════════════════════════════════════╗" || fatal "top of the double frame"
screen_has "    ║ Liquidació de quotes                 ║" || fatal "title with its accent"
screen_has "    ║ ► Opció ◄                            ║" || fatal "glyphs of the bytes 0x10 and 0x11"
screen_has "    ║ ░▒▓█" || fatal "shading blocks"
screen_has "    ╚══════════════════════════════════════╝" || fatal "bottom of the double frame"

colours=$(tm capture-pane -p -e -t e2e)
row() { sed -n "$1p" <<<"$colours"; }
# The console is centred: its row 1 is the terminal's row 3, its column 1
# the terminal's column 11.
[ "$(sed -n 4p <<<"$screen_text")" = "$(printf '%14s' '')╔══════════════════════════════════════╗" ] ||
  fatal "the console is not centred in the larger terminal"
row 5 | grep -qF $'\e[97m\e[44m' || fatal "frame is not bright white on blue: $(row 5 | cat -v)"
row 5 | grep -qF $'\e[93mLiquidaci' || fatal "title is not yellow: $(row 5 | cat -v)"
# PC palette order (blue 1, red 4, brown 6) against ANSI (red 1, blue 4, yellow 3).
expected_palette=$'\e[30m0\e[34m1\e[32m2\e[36m3\e[31m4\e[35m5\e[33m6\e[37m7\e[90m8\e[94m9\e[92mA\e[96mB\e[91mC\e[95mD\e[93mE\e[97mF'
row 12 | grep -qF "$expected_palette" || fatal "palette row: $(row 12 | cat -v)"
row 13 | grep -qF $'\e[44m \e[42m \e[46m \e[41m \e[45m \e[43m \e[47m ' || fatal "background row: $(row 13 | cat -v)"
cursor=$(tm display -p -t e2e '#{cursor_x},#{cursor_y}')
[ "$cursor" = "49,21" ] || fatal "cursor at $cursor, expected console column 40 row 20 (49,21 in the terminal)"

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
# A click at the terminal's column 20, row 7 is the console's column 10, row 5.
key $'\e[<0;20;7M' "M 1 10 5" -l
# A click beside the console is not an event: the next event is the key after it.
keys -l $'\e[<0;95;5M'
keys -l $'\e[<0;5;5M'
keys -l $'\e[<0;20;2M'
key q "K 0071"
screen_has "Last: 'q'" || fatal "the demo did not show the last key"

before=$(log_lines)
tm set-buffer -b clip $'ab\ncé'
tm paste-buffer -p -b clip -t e2e
until_ok log_longer_than $((before + 4)) || fatal "the paste did not arrive"
pasted=$(sed -n "$((before + 1)),\$p" "$LOG" | tr '\n' ' ')
[ "$pasted" = "K 0061 K 0062 K 000D K 0063 K 0082 " ] || fatal "paste gave: $pasted"

# ---- Resizing -----------------------------------------------------------------------
tm resize-window -t e2e -x 60 -y 20
wait_for_text "Ampliau el terminal a 80 x 25 (ara 60 x 20)" || fatal "no request to enlarge"
screen_has "Enlarge the terminal to 80 x 25 (now 60 x 20)" || fatal "no English request to enlarge"
keys z  # typed blind: dropped
tm resize-window -t e2e -x 100 -y 30
wait_for_text "    ║ Liquidació de quotes                 ║" || fatal "no redraw after enlarging"
wait_for_no_text "Ampliau" || fatal "the request stayed on the screen"
key k "K 006B"
# Exactly 80 x 25: the last cell is drawn and nothing scrolls.
tm resize-window -t e2e -x 80 -y 25
wait_for_text "$(printf '%79s#' '')" || fatal "no mark in the last cell at 80 x 25"
capture
[ "$(sed -n 2p <<<"$screen_text")" = "    ╔══════════════════════════════════════╗" ] || fatal "the screen scrolled at 80 x 25"

# ---- Leaving -------------------------------------------------------------------------
keys C-q
until_ok test -s "$work/modes.after" || fatal "the demo did not end"
expect_exit_zero "$work/exit"
cmp -s "$work/modes.before" "$work/modes.after" ||
  fatal "terminal modes changed: $(cat "$work/modes.before") -> $(cat "$work/modes.after")"
wait_for_no_text "Liquidació" || fatal "the normal screen did not come back"

finish "PASS: terminal console in tmux ($(log_lines) events checked)"
