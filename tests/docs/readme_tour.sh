#!/bin/sh
# Runs the tour of README.md as it is written: the commands of the first sh
# block after the heading "## A short tour", one by one, top to bottom, with
# the programs of the build first on PATH, in a fresh registry and an empty
# current directory. A command's exit status must be the one its comment
# names ("# exit 2: ..."), or 0 when the comment names none.
#
#   readme_tour.sh BUILD_DIR README
set -u
build=$(cd "$1" && pwd) || exit 1
readme=$2

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT

awk '/^## A short tour/ { tour = 1 }
     tour && /^```sh$/ { block = 1; next }
     block && /^```/ { exit }
     block { print }' "$readme" >"$scratch/tour"
if ! grep -q . "$scratch/tour"; then
  echo "no tour found in $readme" >&2
  exit 1
fi

mkdir "$scratch/work"
cd "$scratch/work" || exit 1
PATH="$build:$PATH"
ORVIK_REGISTRY="$scratch/registry"
export PATH ORVIK_REGISTRY
unset XDG_DATA_HOME

failures=0
commands=0
while IFS= read -r line; do
  case $line in
    '' | '#'*) continue ;;
  esac
  commands=$((commands + 1))
  expected=$(printf '%s\n' "$line" | sed -n 's/.*#.*exit \([0-9][0-9]*\).*/\1/p')
  [ -n "$expected" ] || expected=0
  sh -c "$line" >"$scratch/out" 2>&1 </dev/null
  status=$?
  if [ "$status" -ne "$expected" ]; then
    failures=$((failures + 1))
    echo "FAILED: $line" >&2
    echo "  exit status $status, the comment says $expected; its output:" >&2
    sed 's/^/  | /' "$scratch/out" >&2
  fi
done <"$scratch/tour"

echo "$commands commands of the tour, $failures failed"
[ "$failures" -eq 0 ]
