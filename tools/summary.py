"""Adds up the pytest reports of every interpreter's run into one closing line."""
import os
import sys
import xml.etree.ElementTree as ElementTree


def main(paths):
    totals = {"tests": 0, "failures": 0, "errors": 0, "skipped": 0}
    for path in filter(os.path.exists, paths):
        root = ElementTree.parse(path).getroot()
        for suite in root.iter("testsuite"):
            for key in totals:
                totals[key] += int(suite.get(key, 0))
            print("%s: %s tests, %s failed, %s skipped" % (
                path, suite.get("tests"), int(suite.get("failures", 0)) + int(suite.get("errors", 0)),
                suite.get("skipped")))
    failed = totals["failures"] + totals["errors"]
    passed = totals["tests"] - failed - totals["skipped"]
    print("total: %d passed, %d failed, %d skipped" % (passed, failed, totals["skipped"]))
    return 1 if failed or not totals["tests"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
