#!/usr/bin/env python3
"""The baseline for registry file loading: a naive reader that splits the
text into lines and keeps each key's name=value lines in a dict, checking
nothing. bench/regfile_speed.py compares sambrel's loading with it."""
import sys


def load(path):
    with open(path, "rb") as f:
        data = f.read()
    text = data[2:].decode("utf-16-le") if data[:2] == b"\xff\xfe" else data.decode("cp1252")
    registry, key = {}, None
    for line in text.splitlines():
        if line.startswith("["):
            key = registry.setdefault(line[1:-1], {})
        elif "=" in line and key is not None:
            name, _, value = line.partition("=")
            key[name] = value
    return registry


if __name__ == "__main__":
    print(len(load(sys.argv[1])), "keys")
