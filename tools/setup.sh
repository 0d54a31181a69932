# setup.sh - shared by ./run and ./test: installs what is missing and builds.
# Sourced, not run.

# What building and running the program and the tools needs: the compiler,
# CMake and Ninja, the libraries' development files and their run-time
# libraries (libpq for data folders kept on a PostgreSQL server; the server
# itself is the office's, not the stations'; zlib for the record checksums).
TARPELIX_RUN_PACKAGES=(cmake ninja-build g++ pkg-config libncurses-dev libsqlite3-dev libpq-dev zlib1g-dev
  libncursesw6 libsqlite3-0 libpq5 zlib1g)
# What the tests need besides: GoogleTest, Google Benchmark, clang with its
# sanitizer and fuzzer run-times, clang-format, tmux for the end-to-end
# scripts, dpkg-dev and file for the Debian package (dpkg-shlibdeps), and
# the PostgreSQL server, whose throwaway clusters the record manager's
# server store is tested against.
TARPELIX_TEST_PACKAGES=(clang clang-format libclang-rt-14-dev libgtest-dev libgmock-dev
  libbenchmark-dev tmux dpkg-dev file postgresql)

# ensure_packages PACKAGE...: installs those that are not installed.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
  fi
}

# configure_tree DIR [cmake options...]: configures DIR with the options
# (again when it was configured before, so that options and newly installed
# packages take effect).
configure_tree() {
  local dir="$1"
  shift
  cmake -S . -B "$dir" -G Ninja "$@"
}

# build_tree DIR [cmake options...]: configures, then builds everything.
build_tree() {
  configure_tree "$@"
  cmake --build "$1" -j "$(nproc)"
}
