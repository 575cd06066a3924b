#!/usr/bin/env python3
"""Counts one lane's tests: "PASSED FAILED" on one line.

  lane_counts.py CTEST_LOG RESULTS_DIR

A test program run in shards counts by its cases, read from the XML report
each shard writes to RESULTS_DIR/<CTest name>.xml; every other CTest test
counts as one. A shard that failed without a failed case in its report (it
crashed, hung or wrote none) counts as one failure more."""
import os
import re
import sys
import xml.etree.ElementTree as ElementTree

SHARD = re.compile(r"\.shard\d+of\d+$")


def ctest_results(log):
    """{name: passed} of every test CTest ran and did not skip, from its
    progress lines."""
    results = {}
    line_pattern = re.compile(r"^\s*\d+/\d+ Test\s+#\d+: (\S+) \.+\**\s*(\w+)")
    with open(log, errors="replace") as text:
        for line in text:
            match = line_pattern.match(line)
            if match and match.group(2) != "Skipped":
                results[match.group(1)] = match.group(2) == "Passed"
    return results


def case_counts(report):
    """(passed, failed) of the cases a GoogleTest XML report ran."""
    passed = failed = 0
    for case in ElementTree.parse(report).iter("testcase"):
        if case.get("status", "run") != "run" or case.get("result") == "skipped":
            continue
        if case.find("failure") is not None:
            failed += 1
        else:
            passed += 1
    return passed, failed


def main(log, results_dir):
    passed = failed = 0
    for name, ok in ctest_results(log).items():
        if not SHARD.search(name):
            passed, failed = passed + ok, failed + (not ok)
            continue
        report = os.path.join(results_dir, name + ".xml")
        shard_passed, shard_failed = case_counts(report) if os.path.isfile(report) else (0, 0)
        passed += shard_passed
        failed += shard_failed + (not ok and shard_failed == 0)
    print(passed, failed)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
