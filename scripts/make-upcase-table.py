#!/usr/bin/env python3
"""Writes platform/posix/upcase_runs.h, Windows' upper-case mapping of UTF-16
code units as a short list of runs, from a dump of the table.

    scripts/make-upcase-table.py TABLE.bin > platform/posix/upcase_runs.h

TABLE.bin holds 65,536 little-endian 16-bit numbers, entry c being what
Windows' upper-casing of registry names returns for the code unit c (the
tests' copy lies in ../shared/unicode/upcase-windows10.bin). Only the code
units that change are listed: runs of units that all move by the same amount,
either every unit of the run (step 1) or every second one (step 2, the
alternating upper- and lower-case letters of many scripts). The output is
left as it is by clang-format.
"""
import struct
import sys


def runs_of(table):
    runs = []  # [first, last, step, delta]
    for unit in range(0x10000):
        upper = table[unit]
        if upper == unit:
            continue
        delta = upper - unit
        if runs:
            run = runs[-1]
            gap = unit - run[1]
            # A unit joins the run before it when it moves by the same amount
            # and keeps the run's step (a run of one unit takes either step).
            if run[3] == delta and ((run[0] == run[1] and gap in (1, 2)) or gap == run[2]):
                run[1] = unit
                run[2] = gap
                continue
        runs.append([unit, unit, 1, delta])
    return runs


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], 'rb') as f:
        data = f.read()
    if len(data) != 0x20000:
        sys.exit('%s: expected 131072 bytes, found %d' % (sys.argv[1], len(data)))
    table = struct.unpack('<65536H', data)
    runs = runs_of(table)
    # The runs give the table back, entry by entry.
    for unit in range(0x10000):
        upper = unit
        for first, last, step, delta in runs:
            if first <= unit <= last and (unit - first) % step == 0:
                upper = unit + delta
        assert upper == table[unit], hex(unit)
    out = sys.stdout
    out.write('// Windows\' upper-case mapping of UTF-16 code units, the one by which it\n')
    out.write('// compares, orders and hashes registry names: the code units that change, as\n')
    out.write('// runs. Made by scripts/make-upcase-table.py from a dump of the table; run it\n')
    out.write('// again rather than edit this file.\n')
    out.write('#pragma once\n\n')
    out.write('#include <cstdint>\n\n')
    out.write('namespace orvik::posix {\n\n')
    out.write('// The units first, first + step, ... up to last become unit + delta.\n')
    out.write('struct UpcaseRun {\n')
    out.write('  char16_t first;\n')
    out.write('  char16_t last;\n')
    out.write('  uint8_t step;  // 1 or 2\n')
    out.write('  int32_t delta;\n')
    out.write('};\n\n')
    out.write('// In ascending order of their units, none overlapping; one a line.\n')
    out.write('// clang-format off\n')
    out.write('inline constexpr UpcaseRun kUpcaseRuns[] = {\n')
    for first, last, step, delta in runs:
        out.write('    {0x%04X, 0x%04X, %d, %d},\n' % (first, last, step, delta))
    out.write('};\n')
    out.write('// clang-format on\n\n')
    out.write('}  // namespace orvik::posix\n')


if __name__ == '__main__':
    main()
