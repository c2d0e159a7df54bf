#!/usr/bin/env python3
"""Fails when a subsystem includes a header of a subsystem above it, or of one beside it.

The layers, lowest first; a subsystem may include only its own headers and those of lower layers.
Subsystems on the same layer (verification and tuning, or update, journal and charts) must not include
each other; the main window opens the verification and tuning windows, so it sits above them.
"""
import os
import re
import sys

LAYERS = [
    ["transport"],
    ["protocol"],
    ["config"],
    ["presentation"],
    ["update", "journal", "charts"],
    ["lab"],          # the laboratory's records: verdicts, validity, standards and their windows
    ["verification", "tuning"],
    ["mainwindow"],   # opens the verification and tuning windows
    ["app"],
]
RANK = {sub: i for i, layer in enumerate(LAYERS) for sub in layer}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/', re.M)


def main(src):
    faults = []
    for sub in sorted(os.listdir(src)):
        if sub not in RANK:
            if os.path.isdir(os.path.join(src, sub)):
                faults.append(f"src/{sub}: not in any layer")
            continue
        for root, _, files in os.walk(os.path.join(src, sub)):
            for name in files:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(root, name)
                with open(path, encoding="utf-8") as f:
                    text = f.read()
                for used in INCLUDE.findall(text):
                    if used == sub or used not in RANK:
                        continue
                    if RANK[used] >= RANK[sub]:
                        faults.append(f"{os.path.relpath(path, os.path.dirname(src))} includes {used}/")
    for f in faults:
        print(f)
    print(f"layers: {len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../../src")))
