#!/usr/bin/env bash
# The main job: installs what is missing (as root), builds, and runs Orvik
# on its default registry. Without arguments it lists HKEY_LOCAL_MACHINE\SOFTWARE;
# with arguments it runs them: scripts/run.sh QUERY 'HKCU\Software' /s
set -euo pipefail
ORVIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ORVIK_ROOT/scripts/lib.sh"

ensure_packages "${ORVIK_PACKAGES[@]}"
build_tree "$ORVIK_ROOT/build" >/dev/null
if [ $# -eq 0 ]; then
  set -- QUERY 'HKLM\SOFTWARE' /s
fi
exec "$ORVIK_ROOT/build/orvik" "$@"
