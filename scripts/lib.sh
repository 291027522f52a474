# Shared by the set-up scripts: installs missing Debian packages (as root),
# then configures and builds a build directory.

# The packages Orvik needs to build and test on Debian.
ORVIK_PACKAGES=(build-essential cmake pkg-config libsqlite3-dev libgtest-dev libgmock-dev
  libhivex-dev libregf-dev util-linux
  libbfio-dev reglookup libhivex-bin xz-utils man-db groff-base)
# hivexregedit, for importing the real hives' exports (tests, benchmark).
ORVIK_PACKAGES+=(libwin-hivex-perl)

# ensure_packages PKG...: installs those that are missing when run as root;
# otherwise names them and fails.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them (sudo apt-get install ${missing[*]}) or run this script as root." >&2
    return 1
  fi
  echo "Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build_tree DIR [cmake options...]: configures DIR and builds everything in it.
build_tree() {
  local dir=$1
  shift
  cmake -S "$ORVIK_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" "$@" &&
    cmake --build "$dir" -j "$(nproc)"
}

# build_fuzz_target TARGET: builds a libFuzzer target in build-fuzz with Clang
# and prints nothing but the build's output.
build_fuzz_target() {
  local build="$ORVIK_ROOT/build-fuzz"
  CC=clang CXX=clang++ cmake -S "$ORVIK_ROOT" -B "$build" -DORVIK_FUZZ=ON -DORVIK_BUILD_TESTS=OFF \
    -DORVIK_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target "$1" -j "$(nproc)"
}

# save_seed_hive DIR FILE: a small hive of our own making (strings, a number,
# a multi-string, bytes, a nested key), saved by the built orvik with a
# registry in DIR, as a fuzzing seed that gets past the base block where the
# real hives are not there. Fails when orvik is not built or fails.
save_seed_hive() {
  local orvik="$ORVIK_ROOT/build/orvik"
  [ -x "$orvik" ] || return 1
  (
    export ORVIK_REGISTRY="$1"
    "$orvik" ADD 'HKCU\Software\Seed\A' /v Text /d "some text" /f
    "$orvik" ADD 'HKCU\Software\Seed\A' /v Count /t REG_DWORD /d 7 /f
    "$orvik" ADD 'HKCU\Software\Seed\B' /v List /t REG_MULTI_SZ /d "a\0b" /f
    "$orvik" ADD 'HKCU\Software\Seed\B\C' /v Bytes /t REG_BINARY /d 00ff10 /f
    "$orvik" SAVE 'HKCU\Software\Seed' "$2"
  ) >/dev/null
}
