#!/usr/bin/env python3
"""The control module exports exactly the names a host loads: check_exports.py MODULE NAME..."""
import subprocess
import sys

module, expected = sys.argv[1], set(sys.argv[2:])
out = subprocess.run(["nm", "-D", "--defined-only", module], check=True, capture_output=True,
                     text=True).stdout
defined = {line.split()[-1] for line in out.splitlines() if line.strip()}
extra, missing = sorted(defined - expected), sorted(expected - defined)
for name in extra:
    print(f"exported but not an entry point: {name}")
for name in missing:
    print(f"not exported: {name}")
sys.exit(1 if extra or missing else 0)
