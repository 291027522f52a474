#!/usr/bin/env bash
# Builds the Debian package from a build directory (default build/), checks
# that it declares SQLite among its dependencies and that lintian, Debian's
# package checker, finds nothing to report (no error, warning or other
# message), then unpacks it into a temporary root and runs the installed
# programs there. Installs lintian when run as root.
set -euo pipefail
ORVIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ORVIK_ROOT/scripts/lib.sh"
dir=$(cd "${1:-$ORVIK_ROOT/build}" && pwd)

ensure_packages lintian
rm -f "$dir"/orvik_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/orvik_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in
  *libsqlite3*) ;;
  *) echo "$deb does not depend on SQLite: $depends" >&2; exit 1 ;;
esac

# Lintian's tags go to standard output; as root it also says on standard
# error that it would rather not run as root, which is no finding.
report=$(lintian --fail-on error,warning "$deb") || status=$?
if [ -n "$report" ] || [ "${status:-0}" -ne 0 ]; then
  echo "lintian on $deb:" >&2
  echo "$report" >&2
  exit 1
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
"$ORVIK_ROOT/tests/install/check_install.sh" --prefix "$root/usr"
echo "$deb"
