#!/usr/bin/env python3
"""Summarises a ctest JUnit file (ctest --output-junit FILE): how many tests
ran, passed, were skipped (with the reason GoogleTest printed after
"<file>:<line>: Skipped") and failed (with their output). Exits 1 when a
test failed or none ran.    Usage: scripts/ctest-summary.py FILE"""
import sys
import xml.etree.ElementTree as ElementTree


def skip_reason(output):
    lines = output.splitlines()
    return next((after for line, after in zip(lines, lines[1:]) if line.endswith(": Skipped")),
                "(no reason given)")


def main(path):
    passed, skipped, failed = 0, [], []
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        name, output = case.get("name"), case.findtext("system-out") or ""
        if case.find("failure") is not None:
            failed.append(f"--- FAILED {name}:\n{output}")
        elif case.find("skipped") is not None:
            skipped.append(f"  skipped {name}: {skip_reason(output)}")
        else:
            passed += 1
    ran = passed + len(skipped) + len(failed)
    print(f"ran {ran}: passed {passed}, skipped {len(skipped)}, failed {len(failed)}")
    print("\n".join(skipped + failed))
    return 1 if failed or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]) if len(sys.argv) == 2 else __doc__)
