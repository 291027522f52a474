#!/usr/bin/env bash
# Checks that no function or variable is defined twice among Orvik's static
# libraries. The linker takes the first definition it meets in the order the
# libraries are named and drops the other without a word, so a second
# definition is code that never runs.
#   check_single_definitions.sh LIBRARY.a...
set -euo pipefail

twice=$(
  for library in "$@"; do
    # Strong definitions only: inline functions and templates are weak (W,
    # V) and may be defined in every object that uses them.
    nm --defined-only --extern-only "$library" |
      awk -v library="$(basename "$library")" '$2 ~ /^[TDBR]$/ && NF >= 3 { print $3 "\t" library }'
  done | sort | awk -F'\t' '
    $1 == last { places = places ", " $2; twice[$1] = places; next }
    { last = $1; places = $2 }
    END { for (symbol in twice) print symbol " is defined in " twice[symbol] }'
)
if [ -n "$twice" ]; then
  echo "Defined more than once:" >&2
  c++filt <<<"$twice" >&2
  exit 1
fi
