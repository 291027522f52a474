#!/usr/bin/env bash
# Runs every test: installs what is missing (as root), builds, and runs the
# unit and end-to-end tests with CTest. ORVIK_WERROR=ON turns warnings into
# errors; ORVIK_BUILD_DIR picks another build directory.
set -euo pipefail
ORVIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ORVIK_ROOT/scripts/lib.sh"

ensure_packages "${ORVIK_PACKAGES[@]}"
dir=${ORVIK_BUILD_DIR:-$ORVIK_ROOT/build}
build_tree "$dir" -DORVIK_WERROR="${ORVIK_WERROR:-OFF}" ${ORVIK_CMAKE_ARGS:-}
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
