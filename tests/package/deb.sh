#!/usr/bin/env bash
# deb.sh - the Debian package that `cpack -G DEB` makes in the build tree:
#   - named tarpelix, of the project's version and this machine's
#     architecture;
#   - holding under /usr exactly what `cmake --install` installs, with the
#     programs stripped;
#   - depending on exactly the packages of the shared libraries its programs
#     are linked with (ncursesw, SQLite, libpq when built with it, the C and
#     C++ run-time), found by dpkg-shlibdeps: no development package, no
#     test or benchmark library;
#   - among them the package of every library the build was configured to
#     link (TARPELIX_RUNTIME_LIBRARIES, from cmake/Packaging.cmake).
# The package is left in the build tree.
set -u
. "${TARPELIX_SOURCE_DIR:?TARPELIX_SOURCE_DIR is not set}/tests/e2e/lib.bash"
: "${TARPELIX_BINARY_DIR:?TARPELIX_BINARY_DIR is not set}" "${TARPELIX_VERSION:?TARPELIX_VERSION is not set}"
: "${TARPELIX_RUNTIME_LIBRARIES:?TARPELIX_RUNTIME_LIBRARIES is not set}"
for tool in cpack dpkg-deb dpkg-shlibdeps readelf ldd file; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
make_work tarpelix_deb

arch=$(dpkg --print-architecture)
deb=$TARPELIX_BINARY_DIR/tarpelix_${TARPELIX_VERSION}_$arch.deb
rm -f "$deb"
(cd "$TARPELIX_BINARY_DIR" && cpack -G DEB) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fatal "cpack failed"; }
[ -f "$deb" ] || { cat "$work/cpack.log"; fatal "no package $deb"; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarpelix ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$TARPELIX_VERSION" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"

# ---- The contents: what cmake --install installs, under /usr --------------------------
dpkg-deb -x "$deb" "$work/deb" || fatal "dpkg-deb -x failed"
cmake --install "$TARPELIX_BINARY_DIR" --prefix "$work/prefix" >"$work/install.log" 2>&1 || fatal "cmake --install failed"
(cd "$work/prefix" && find . -type f | sort) >"$work/installed.txt"
(cd "$work/deb/usr" && find . -type f | sort) >"$work/packaged.txt"
[ -z "$(cd "$work/deb" && find . -mindepth 1 -maxdepth 1 ! -name usr)" ] || fail "the package holds files outside /usr"
diff -u "$work/installed.txt" "$work/packaged.txt" >"$work/diff.txt" ||
  { cat "$work/diff.txt"; fail "the package does not hold what cmake --install installs"; }
binaries=()
for f in "$work"/deb/usr/bin/*; do
  binaries+=("$f")
  file -b "$f" | grep -q 'not stripped' && fail "$(basename "$f") is not stripped"
done
[ ${#binaries[@]} -ge 4 ] || fail "only ${#binaries[@]} programs in the package"

# ---- The dependencies: the packages of the libraries the programs need ----------------------
# The package that holds a library file (merged /usr: the file may be
# registered under /lib or /usr/lib, by its name or its target's).
package_of() {
  local path=$1 real candidate package
  real=$(realpath "$path")
  for candidate in "$path" "$real" "/usr${path#/usr}" "${path#/usr}" "/usr${real#/usr}" "${real#/usr}"; do
    package=$(dpkg -S "$candidate" 2>/dev/null | head -n1 | cut -d: -f1 | cut -d, -f1)
    [ -n "$package" ] && { echo "$package"; return 0; }
  done
  return 1
}
: >"$work/needed.txt"
: >"$work/ldd.txt"
for f in "${binaries[@]}"; do
  readelf -d "$f" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' >>"$work/needed.txt"
  ldd "$f" | awk '$2 == "=>" && $3 ~ /^\// {print $1, $3}' >>"$work/ldd.txt"
done
sort -u -o "$work/needed.txt" "$work/needed.txt"
sort -u -o "$work/ldd.txt" "$work/ldd.txt"
# The packages of the libraries the programs name themselves (NEEDED), as
# dpkg-shlibdeps lists them: not those a library pulls in for itself (libpq's
# Kerberos, LDAP and TLS libraries), which its own package depends on.
while read -r soname library; do
  grep -qxF -- "$soname" "$work/needed.txt" || continue
  package_of "$library" || echo "UNKNOWN:$library"
done <"$work/ldd.txt" | sort -u >"$work/expected.txt"
grep -q UNKNOWN "$work/expected.txt" && fail "libraries of no package: $(grep UNKNOWN "$work/expected.txt")"

depends=$(field Depends)
echo "Depends: $depends"
tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ *(.*//; s/ *$//' | grep -v '^$' | sort -u >"$work/depends.txt"
if ! diff -u "$work/expected.txt" "$work/depends.txt" >"$work/diff.txt"; then
  cat "$work/diff.txt"
  fail "Depends is not the packages of the libraries the programs need (- missing, + extra)"
fi
grep -E -- '-dev$|gtest|gmock|benchmark' "$work/depends.txt" && fail "a development or test package in Depends"
# What the build links with is really there: each library is needed by a
# program, and the package it comes from is a dependency.
for name in $TARPELIX_RUNTIME_LIBRARIES; do
  grep -q "^lib$name\.so" "$work/needed.txt" || { fail "no program needs lib$name: $(cat "$work/needed.txt")"; continue; }
  library=$(awk -v prefix="lib$name.so" 'index($1, prefix) == 1 {print $2; exit}' "$work/ldd.txt")
  package=$(package_of "$library") || package=""
  grep -qx -- "$package" "$work/depends.txt" || fail "lib$name ($library, package ${package:-none}) is not in Depends: $depends"
done
# Every dependency carries the least version dpkg-shlibdeps found.
tr ',' '\n' <<<"$depends" | grep -v '(>=' | grep -q . && fail "a dependency without a version: $depends"

finish "package $(basename "$deb"): $(wc -l <"$work/depends.txt") dependencies, $(wc -l <"$work/packaged.txt") files"
