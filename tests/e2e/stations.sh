#!/usr/bin/env bash
# stations.sh - two stations on one suite root, in two windows of one tmux
# session: station A starts a settlement of every property and its window
# is closed with tmux kill-window (the program gets SIGHUP, as when an
# office terminal is closed) in the middle of the pass.  Station A ends in
# order: the property it was settling is rolled back, its lock records and
# its liveness file in LOCKS are gone.  Station B, which sat on the
# parameter screen all along, then settles the same range at once (no
# thirty-minute wait on A's locks), and the balances equal those of one
# station settling a copy of the same data alone.
#
# The screen is read back with capture-pane and polled until a deadline
# instead of waiting fixed times.  On a failure the captured screen is
# printed.
set -u
. "$(dirname "$0")/lib.bash"

require_programs "$PROGRAM" "$DEMODATA" "$BALANCES"
make_work tarpelix_e2e_stations
DEADLINE_SECONDS=20

PROPERTIES=300

# The window the helpers talk to (keys, capture).
target=e2e
keys() { tm send-keys -t "$target" "$@"; }
capture() { screen_text=$(tm capture-pane -p -t "$target" 2>/dev/null); }
cursor_on_label() {
  local line
  capture
  line=$(grep -nF -- "$1" <<<"$screen_text" | head -n1 | cut -d: -f1)
  label_row=${line:-0}
  cursor_row=$(($(tm display-message -p -t "$target" '#{cursor_y}') + 1))
  [ "$label_row" -ne 0 ] && [ "$cursor_row" -eq "$label_row" ]
}

# The whole range, confirmed: the pass starts.
start_settlement() {
  type_field "$DATE_LABEL" 31122026 && type_field "$FIRST_LABEL" 1 &&
    type_field "$LAST_LABEL" 9999 && type_field "$CONCEPT_LABEL" 3 &&
    wait_for_text "$CONFIRM_LABEL" && keys S Enter
}

# The program on ROOT with the station folder STATION, in a new window NAME
# (the first one makes the session); its exit status goes to ROOT/NAME.exit.
start_station() {
  local root=$1 station=$2 name=$3 command
  command="cd $(printf '%q' "$root") && KALROOT=$(printf '%q' "$root/") KALTMP=$(printf '%q' "$root/$station/")"
  command+=" $(printf '%q' "$PROGRAM"); echo EXIT=\$? > $(printf '%q' "$root/$name.exit"); sleep 30"
  mkdir -p "$root/$station"
  if [ "$name" = a ] || [ "$name" = alone ]; then
    tm new-session -d -s e2e -n "$name" -x 80 -y 25 "$command"
  else
    tm new-window -d -t e2e -n "$name" "$command"
  fi
  target="e2e:$name"
  wait_for_text "SALDO EN RÒSSEC" || fatal "station $name: the parameter screen did not appear"
}

# Waits for the pass of the station in window NAME on ROOT to end (back on
# the parameter screen), then leaves the program with Escape.
end_station() {
  local root=$1 name=$2
  target="e2e:$name"
  DEADLINE_SECONDS=120
  wait_for_no_text "$CONFIRM_LABEL" && close_result && wait_for_cursor_on "$DATE_LABEL" ||
    fatal "station $name: the pass did not end"
  DEADLINE_SECONDS=20
  keys Escape
  expect_exit_zero "$root/$name.exit"
}

log_lines() { [ -f "$1/db.log" ] && wc -l <"$1/db.log" || echo 0; }
log_has() { [ "$(log_lines "$1")" -ge "$2" ]; }
no_file() { [ ! -e "$1" ]; }
# Properties of a balances listing (CSV, one row per owner) settled at 31/12/2026.
settled_properties() {
  tail -n +2 "$1" | awk -F'"' '{ split($3, f, ","); if (f[2] == "31/12/2026") print $1 }' | sort -u | wc -l
}

# ---- One suite, two copies ------------------------------------------------------------
root="$work/suite"
make_suite_root "$root"
"$DEMODATA" --root "$root/" --properties "$PROPERTIES" --owners 4 >"$work/demodata.out" 2>&1 ||
  { echo "FAIL: demodata: $(cat "$work/demodata.out")"; exit 1; }
alone="$work/alone"
cp -R "$root" "$alone"

# ---- The reference: one station alone -------------------------------------------------
start_station "$alone" TMP alone
start_settlement || fatal "the settlement could not be started alone"
end_station "$alone" alone
tm kill-server
"$BALANCES" --root "$alone" --csv >"$work/alone.csv" || fatal "balances alone"
total=$(log_lines "$alone")
[ "$(settled_properties "$work/alone.csv")" -eq "$PROPERTIES" ] || fail "the station alone did not settle every property"

# ---- Two stations; A's window closed in the middle of its pass ---------------------
start_station "$root" TMP a
a_id=$(od -An -t d4 -N4 "$root/TMP/LOCKS.TMP" | tr -d ' ')
[ -e "$root/LOCKS/$a_id.sta" ] || fail "station A shows no liveness file (LOCKS/$a_id.sta)"
start_station "$root" TMP2 b
target="e2e:a"
start_settlement || fatal "station A could not start its settlement"
# A few properties in, the window goes.
until_ok log_has "$root" 40 || fatal "station A's pass did not start"
tm kill-window -t e2e:a
# A ends in order: its liveness file and every lock record of it gone.
until_ok no_file "$root/LOCKS/$a_id.sta" || fail "station A did not end in order (LOCKS/$a_id.sta is still there)"
if grep -a -q -- "$(printf '%-11s' "$a_id")" "$root"/LOCKS/*.lck; then
  fail "station A left lock records"
fi
"$BALANCES" --root "$root" --csv >"$work/killed.csv" || fail "balances after the kill"
partly=$(settled_properties "$work/killed.csv")
echo "station A settled $partly of $PROPERTIES properties ($(log_lines "$root") of $total log lines) before its window closed"
[ "$partly" -gt 0 ] && [ "$partly" -lt "$PROPERTIES" ] || fail "the window was not closed in the middle of the pass ($partly settled)"

# B settles the same range at once.
target="e2e:b"
start_settlement || fatal "station B could not start its settlement"
end_station "$root" b

"$BALANCES" --root "$root" --csv >"$work/both.csv" || fail "balances after both"
if ! cmp -s "$work/alone.csv" "$work/both.csv"; then
  fail "the balances differ from one station alone:"
  diff "$work/alone.csv" "$work/both.csv" | head -20
fi
[ -z "$(ls "$root/LOCKS" | grep '\.sta$')" ] || fail "liveness files left: $(ls "$root/LOCKS")"

finish "stations: passed"
