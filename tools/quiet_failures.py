#!/usr/bin/env python3
"""Names the failed tests of a ctest JUnit report that printed nothing and
ended within a second: under load Wine now and then fails to start a
process, and such a test never reached the product. One name a line."""
import sys
import xml.etree.ElementTree as ET

def main(path):
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as e:
        print(f"quiet_failures: {path}: {e}", file=sys.stderr)
        return 2
    for case in root.iter("testcase"):
        if case.get("status") != "fail":
            continue
        out = "".join(e.text or "" for e in case.iter("system-out")).strip()
        if not out and float(case.get("time", "99")) < 1.0:
            print(case.get("name"))
    return 0

if __name__ == "__main__":
    sys.exit(main(sys.argv[1]) if len(sys.argv) == 2 else 2)
