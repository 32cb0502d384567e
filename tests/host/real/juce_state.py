#!/usr/bin/env python3
"""juce_state.py SETTINGS OUT: writes the plug-in state that a JUCE standalone app keeps in its
settings file ("filterState") to OUT, without the host's trailing bypass flag, so that it reads
as a preset file."""
import re
import sys

# The alphabet of JUCE's own text form of binary data: "<size>.<characters>", six bits per
# character, least significant bits first.
ALPHABET = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"
BYPASS_FLAG_BYTES = 4


def decode(text):
    size, _, characters = text.partition(".")
    size = int(size)
    value = 0
    for i, c in enumerate(characters):
        value |= ALPHABET.index(c) << (6 * i)
    return (value & ((1 << (8 * size)) - 1)).to_bytes(size, "little")


def main():
    settings = open(sys.argv[1], encoding="utf-8").read()
    found = re.search(r'name="filterState" val="([^"]*)"', settings)
    if not found:
        sys.exit("no state in " + sys.argv[1])
    state = decode(found.group(1))
    open(sys.argv[2], "wb").write(state[:-BYPASS_FLAG_BYTES])


if __name__ == "__main__":
    main()
