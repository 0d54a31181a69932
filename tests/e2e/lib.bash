# lib.bash - what the end-to-end scripts share; sourced, never run itself
# (it does not end in .sh, so it is no test of its own).
#
# A script runs a program in a detached tmux session named "e2e" on a tmux
# server of its own (a socket in the script's temporary folder, no tmux
# configuration read), reads the pane back with capture-pane and polls it
# until a deadline instead of waiting fixed times.  Nothing here needs a
# terminal or any input: CI runs the scripts with neither.
#
# Variables a script may set after sourcing:
#   DEADLINE_SECONDS  how long a wait polls (default 10)
#   socket            the tmux server to talk to (default: one in $work)
#   fail_context      shown in a failure's first line, e.g. a language
#   fail_log          a file printed after the screen on a failure
# Variables the helpers set:
#   work              the temporary folder, removed on exit
#   screen_text       the screen as last captured
#   failures          how many checks failed so far

DEADLINE_SECONDS=10
socket=""
fail_context=""
fail_log=""
work=""
screen_text=""
failures=0
# tmux's own output in UTF-8, whatever the caller's locale.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

# ---- Setting up ------------------------------------------------------------------

# The programs of the build tree (TARPELIX_BINARY_DIR; require_programs
# says which one is missing).
BIN="${TARPELIX_BINARY_DIR:-}"
PROGRAM="$BIN/tarpelix"
DEMODATA="$BIN/tools/demodata"
BALANCES="$BIN/tools/balances"
SETTLEMENTS="$BIN/tools/settlements"
RECUTIL="$BIN/tools/recutil"

# The demo form's captions (Catalan).
DATE_LABEL="DATA DE LIQUIDACIÓ :"
FIRST_LABEL="DE LA FINCA :"
LAST_LABEL="FINS A LA FINCA :"
CONCEPT_LABEL="CONCEPTE RÒSSEC :"
CONFIRM_LABEL="CONFIRMEU LA LIQUIDACIÓ (S/N) :"


# require_programs PATH...: stops the script (status 1) when tmux or one of
# the programs is missing.
require_programs() {
  command -v tmux >/dev/null 2>&1 || { echo "FAIL: tmux is not installed"; exit 1; }
  local program
  for program in "$@"; do
    [ -x "$program" ] || { echo "FAIL: no program at $program (not built?)"; exit 1; }
  done
}

# make_work NAME: a fresh temporary folder in $work and the default tmux
# socket in it; on exit every tmux server started on a socket there is
# stopped and the folder removed.
make_work() {
  work=$(mktemp -d "/tmp/$1.XXXXXX") || { echo "FAIL: no temporary folder"; exit 1; }
  socket="$work/tmux.socket"
  trap cleanup_work EXIT
}
cleanup_work() {
  local s
  for s in "$work"/*.socket; do
    [ -S "$s" ] && tmux -S "$s" kill-server >/dev/null 2>&1
  done
  rm -rf "$work"
}

# make_suite_root DIR: a copy of the demo suite root, with its data, lock
# and terminal folders.
make_suite_root() {
  local dir=$1
  mkdir -p "$dir"
  cp -R "${TARPELIX_SOURCE_DIR:?TARPELIX_SOURCE_DIR is not set}/demo/." "$dir/"
  mkdir -p "$dir/TMP" "$dir/DADES" "$dir/LOCKS"
}

# tm ARGS...: tmux on this script's server.
tm() { tmux -u -f /dev/null -S "$socket" "$@"; }

# start_session COLUMNS ROWS COMMAND: the command in a detached session
# "e2e" of that size.
start_session() {
  tm new-session -d -s e2e -x "$1" -y "$2" "$3"
}

# start_suite ROOT PROGRAM EXIT_FILE: the program on the suite root in an
# 80 x 25 session; its exit status goes to EXIT_FILE as "EXIT=n" and the
# pane stays a while so that the last screen can still be read.
start_suite() {
  local root program exit_file
  root=$(printf '%q' "$1")
  program=$(printf '%q' "$2")
  exit_file=$(printf '%q' "$3")
  start_session 80 25 \
    "cd $root && KALROOT=$root/ KALTMP=$root/TMP/ $program; echo EXIT=\$? > $exit_file; sleep 30"
}

# keys ARGS...: send-keys to the session (tmux key names, or -l TEXT).
keys() { tm send-keys -t e2e "$@"; }

# ---- Reading the screen ----------------------------------------------------------

capture() { screen_text=$(tm capture-pane -p -t e2e 2>/dev/null); }

# Each captures the screen anew: it shows the text (fixed string), does not
# show it, or shows a line matching the extended regular expression.
screen_has() { capture; grep -qF -- "$1" <<<"$screen_text"; }
screen_lacks() { capture; ! grep -qF -- "$1" <<<"$screen_text"; }
screen_matches() { capture; grep -qE -- "$1" <<<"$screen_text"; }

# until_ok COMMAND...: runs the command until it succeeds, at least once and
# for DEADLINE_SECONDS at most; the status of the last try.
until_ok() {
  local end=$((SECONDS + DEADLINE_SECONDS))
  while :; do
    "$@" && return 0
    [ "$SECONDS" -ge "$end" ] && return 1
    sleep 0.05
  done
}

wait_for_text() { until_ok screen_has "$1"; }
wait_for_no_text() { until_ok screen_lacks "$1"; }
wait_for_pattern() { until_ok screen_matches "$1"; }

# cursor_on_label LABEL: whether the cursor stands on the screen row of the
# first line holding the label; sets label_row (0: no such line) and
# cursor_row, both counted from 1.
label_row=0
cursor_row=0
cursor_on_label() {
  local line
  capture
  line=$(grep -nF -- "$1" <<<"$screen_text" | head -n1 | cut -d: -f1)
  label_row=${line:-0}
  cursor_row=$(($(tm display-message -p -t e2e '#{cursor_y}') + 1))
  [ "$label_row" -ne 0 ] && [ "$cursor_row" -eq "$label_row" ]
}

# wait_for_cursor_on LABEL: waits until the cursor stands on the row of the
# label (the field being edited); a failure when it does not.
wait_for_cursor_on() {
  until_ok cursor_on_label "$1" && return 0
  fail "cursor on row $cursor_row, expected the row of \"$1\" ($label_row)"
  return 1
}

# type_field LABEL VALUE: types the value into the field of that label, where
# the cursor must stand: the field is blanked first (Ctrl+Y), then the text,
# then Enter.
type_field() {
  wait_for_cursor_on "$1" || return 1
  keys C-y
  keys -l "$2"
  keys Enter
}

# close_result: waits for the window a settlement pass shows when it ends
# (its result, in Catalan) and closes it with Escape; a failure when it
# does not come or does not go.
close_result() {
  if ! wait_for_text "ESC: TANCA"; then
    fail "no result after the pass"
    return 1
  fi
  keys Escape
  wait_for_no_text "ESC: TANCA" || { fail "the result stayed after Escape"; return 1; }
}

# expect_exit_zero EXIT_FILE: waits for the program's "EXIT=n" line; a
# failure when it does not come or is not "EXIT=0".
expect_exit_zero() {
  local exit_file=$1
  if ! until_ok test -s "$exit_file"; then
    fail "the program did not end"
  elif ! grep -qx "EXIT=0" "$exit_file"; then
    fail "exit status: $(cat "$exit_file")"
  fi
}

# ---- Failures ----------------------------------------------------------------------

# fail MESSAGE: reports a failed check with the screen as it is now and
# counts it; the script goes on.
fail() {
  echo "FAIL${fail_context:+ [$fail_context]}: $*"
  echo "---- screen ----"
  capture
  printf '%s\n' "$screen_text"
  if [ -n "$fail_log" ]; then
    echo "---- $(basename "$fail_log") ----"
    cat "$fail_log"
  fi
  echo "----------------"
  failures=$((failures + 1))
}

# fatal MESSAGE: a failure after which nothing more can be checked.
fatal() {
  fail "$@"
  exit 1
}

# finish SUCCESS_TEXT: the script's end: status 1 after any failure, else
# the text.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
  fi
  echo "$1"
}
