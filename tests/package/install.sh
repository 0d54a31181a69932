#!/usr/bin/env bash
# install.sh - `cmake --install` of the build tree into a temporary prefix,
# and the installed programs as a technician meets them:
#   - every program in bin/, a manual page for each in share/man/man1/, the
#     demonstration suite root in share/tarpelix/demo/, and nothing else;
#   - every installed program answers --help and --version;
#   - the installed tarpelix without KALROOT, and on the installed demo,
#     says how to start the demonstration suite, ends with 1 and writes
#     nothing into share/;
#   - demodata --init copies the demo into a folder of the user's, and the
#     installed program starts there (in tmux) and ends with Escape.
set -u
. "${TARPELIX_SOURCE_DIR:?TARPELIX_SOURCE_DIR is not set}/tests/e2e/lib.bash"
: "${TARPELIX_BINARY_DIR:?TARPELIX_BINARY_DIR is not set}" "${TARPELIX_VERSION:?TARPELIX_VERSION is not set}"
require_programs "$TARPELIX_BINARY_DIR/tarpelix"
make_work tarpelix_install
prefix=$work/prefix

cmake --install "$TARPELIX_BINARY_DIR" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fatal "cmake --install failed"; }

# The programs: tarpelix and one tool per help source.
programs=(tarpelix)
for help in "$TARPELIX_SOURCE_DIR"/tools/*.help; do programs+=("$(basename "$help" .help)"); done

# ---- Every file where it belongs, and nothing else ----------------------------------
expected=$work/expected.txt
{
  for p in "${programs[@]}"; do
    echo "bin/$p"
    echo "share/man/man1/$p.1.gz"
  done
  echo "share/doc/tarpelix/README.md"
  (cd "$TARPELIX_SOURCE_DIR/demo" && find . -type f ! -name .gitattributes ! -name '*.py' ! -path ./ddf/README.md |
    sed 's|^\./|share/tarpelix/demo/|')
} | sort >"$expected"
(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) >"$work/installed.txt"
if ! diff -u "$expected" "$work/installed.txt" >"$work/diff.txt"; then
  cat "$work/diff.txt"
  fail "the installed files are not the expected ones (- missing, + unexpected)"
fi
(cd "$TARPELIX_SOURCE_DIR/demo" && find . -type f ! -name .gitattributes ! -name '*.py' ! -path ./ddf/README.md) |
  while read -r f; do
    cmp -s "$TARPELIX_SOURCE_DIR/demo/$f" "$prefix/share/tarpelix/demo/$f" || echo "$f"
  done >"$work/changed.txt"
[ -s "$work/changed.txt" ] && fail "demo files installed with other contents: $(cat "$work/changed.txt")"
for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p is not executable"
  page=$prefix/share/man/man1/$p.1.gz
  if ! gzip -t "$page" 2>/dev/null; then
    fail "share/man/man1/$p.1.gz is not gzip-compressed"
  else
    title=$(gzip -dc "$page" | grep -m1 '^\.TH ')
    [[ $title == ".TH ${p^^} 1 "* ]] || fail "manual page of $p: $title"
  fi
done

# ---- Every installed program answers --help and --version -----------------------------
for p in "${programs[@]}"; do
  out=$("$prefix/bin/$p" --help 2>"$work/err") && status=0 || status=$?
  [ "$status" -eq 0 ] || fail "$p --help: exit status $status"
  [[ $out == "Usage: $p"* ]] || fail "$p --help does not start with its usage: ${out:0:60}"
  [ -s "$work/err" ] && fail "$p --help wrote on the error output: $(cat "$work/err")"
  out=$("$prefix/bin/$p" --version 2>&1) && status=0 || status=$?
  [ "$status" -eq 0 ] || fail "$p --version: exit status $status"
  [ "$out" = "$p (tarpelix) $TARPELIX_VERSION" ] || fail "$p --version: $out"
done

# ---- No suite root, and the read-only demo ------------------------------------------------
# The program needs a terminal before it looks at its suite root: tmux.
share_state() { (cd "$prefix/share" && find . -printf '%p %s %T@\n' | sort); }
share_state >"$work/share.before"
mkdir -p "$work/empty"
run_without_root() {  # NAME ENVIRONMENT...: the installed program in $work/empty
  local name=$1
  shift
  socket=$work/$name.socket  # a tmux server of its own for each run
  start_session 80 25 "cd $work/empty && env -u KALROOT -u KALTMP $* $prefix/bin/tarpelix 2>$work/$name.err; echo EXIT=\$? >$work/$name.exit; sleep 30"
  until_ok test -s "$work/$name.exit" || fail "$name: the program did not end"
}
run_without_root noroot
grep -qx "EXIT=1" "$work/noroot.exit" || fail "without KALROOT: $(cat "$work/noroot.exit")"
for text in "no suite root: KALROOT is not set" "$prefix/share/tarpelix/demo" "demodata --init --root ~/tarpelix-demo" \
  "KALROOT=~/tarpelix-demo/ KALTMP=~/tarpelix-demo/TMP/ tarpelix"; do
  grep -qF -- "$text" "$work/noroot.err" || fail "without KALROOT, no \"$text\" in: $(cat "$work/noroot.err")"
done
run_without_root demoroot "KALROOT=$prefix/share/tarpelix/demo/" "KALTMP=$prefix/share/tarpelix/demo/TMP/"
grep -qx "EXIT=1" "$work/demoroot.exit" || fail "on the installed demo: $(cat "$work/demoroot.exit")"
grep -qF "is read-only" "$work/demoroot.err" || fail "on the installed demo: $(cat "$work/demoroot.err")"
# The same folder by another path is still the installed demo.
run_without_root demolink "KALROOT=$prefix/share/tarpelix/../tarpelix/demo/"
grep -qF "is read-only" "$work/demolink.err" || fail "on the installed demo by ..: $(cat "$work/demolink.err")"
share_state >"$work/share.after"
cmp -s "$work/share.before" "$work/share.after" ||
  fail "something was written into share/: $(diff "$work/share.before" "$work/share.after")"
[ -n "$(ls -A "$work/empty")" ] && fail "the program wrote into its start folder: $(ls -A "$work/empty")"

# ---- The demonstration suite copied by demodata --init --------------------------------------
suite=$work/my\ demo
"$prefix/bin/demodata" --init --root "$suite" >"$work/init.out" 2>&1 || fail "demodata --init: $(cat "$work/init.out")"
grep -qF "KALROOT='$suite/' KALTMP='$suite/TMP/' $prefix/bin/tarpelix" "$work/init.out" || fail "demodata --init says: $(cat "$work/init.out")"
for f in FORMS/TARPELIX.JPN LOCALE/TARPELIX.LNG TMP/VorkTerm.ini DADES/PropietH.dat; do
  [ -f "$suite/$f" ] || fail "demodata --init made no $f"
done
[ -d "$suite/LOCKS" ] || fail "demodata --init made no LOCKS folder"
"$prefix/bin/demodata" --init --root "$suite" >"$work/again.out" 2>&1 && status=0 || status=$?
[ "$status" -eq 1 ] || fail "demodata --init into a folder that is not empty: exit $status"
grep -qF "NO ÉS BUIDA" "$work/again.out" || fail "demodata --init again says: $(cat "$work/again.out")"
share_state >"$work/share.after"
cmp -s "$work/share.before" "$work/share.after" || fail "demodata --init wrote into share/"

socket=$work/suite.socket
start_suite "$suite" "$prefix/bin/tarpelix" "$work/suite.exit"
wait_for_text "DE LA FINCA" || fail "the installed program shows no parameter screen on the copy"
keys Escape
expect_exit_zero "$work/suite.exit"

finish "installed: ${#programs[@]} programs, their manual pages and the demonstration suite root"
