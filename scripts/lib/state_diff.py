#!/usr/bin/env python3
"""Names the first key at which two state catalogs differ, and the facts that differ there.

    state_diff.py [--facts N] EXPECTED ACTUAL

A catalog is what `vesperdeep-driver --states FILE` writes: a "== game G key K turn T mode M"
header per key the game read, the first state in full, then the facts that changed ("NAME:
VALUE" lines, "(gone) NAME" for a fact that went). Both catalogs are replayed key by key; at the
first key whose states differ, the differing facts are printed (at most N, default 12) as
"NAME: expected X, actual Y". Exit status 0 when the catalogs hold the same states, 1 otherwise,
2 when a file cannot be read.
"""

import argparse
import sys

GONE = "(gone) "


def sections(path):
    """The catalog's keys in order: (header, [fact lines])."""
    result = []
    with open(path, encoding="utf-8", errors="replace") as catalog:
        for line in catalog:
            line = line.rstrip("\n")
            if line.startswith("== "):
                result.append((line[3:], []))
            elif result:
                result[-1][1].append(line)
    return result


def split_fact(line):
    """(name, value) of a fact line; value None for a fact that went."""
    if line.startswith(GONE):
        return line[len(GONE):], None
    name, _, value = line.partition(": ")
    return name, value


def apply(state, lines):
    """Brings `state` (value by name) forward by one key's changed facts; returns their names."""
    names = []
    for line in lines:
        name, value = split_fact(line)
        names.append(name)
        if value is None:
            state.pop(name, None)
        else:
            state[name] = value
    return names


def shown(value):
    return "(none)" if value is None else value


def report(header, names, expected, actual, limit):
    """Prints the facts that differ after the key `header`, in the catalog's order."""
    differing = []
    for name in dict.fromkeys(names):
        if expected.get(name) != actual.get(name):
            differing.append(name)
    print(f"  the state first differs after {header}:")
    for name in differing[:limit]:
        print(f"    {name}: expected {shown(expected.get(name))}, actual {shown(actual.get(name))}")
    if len(differing) > limit:
        print(f"    ... and {len(differing) - limit} more facts")


def compare(expected_path, actual_path, limit):
    """0 when both catalogs hold the same states, 1 after reporting the first difference."""
    expected_keys, actual_keys = sections(expected_path), sections(actual_path)
    expected, actual = {}, {}
    for (expected_header, expected_lines), (header, lines) in zip(expected_keys, actual_keys):
        names = apply(actual, lines) + apply(expected, expected_lines)
        if expected != actual or expected_header != header:
            if expected_header != header:
                print(f"  expected the key {expected_header}, got {header}")
            report(header, names, expected, actual, limit)
            return 1
    if len(expected_keys) != len(actual_keys):
        print(f"  the states agree for {min(len(expected_keys), len(actual_keys))} keys; "
              f"expected {len(expected_keys)} keys, the game read {len(actual_keys)}")
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--facts", type=int, default=12, help="at most this many facts")
    parser.add_argument("expected")
    parser.add_argument("actual")
    arguments = parser.parse_args()
    try:
        return compare(arguments.expected, arguments.actual, arguments.facts)
    except OSError as error:
        print(f"state_diff.py: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
