#!/usr/bin/env python3
"""A lane's counts, as the test command reads them from CTest's log and the
shards' reports: cases counted, skips left out, a shard that ended without
its report a failure.

  lane_counts_test.py SOURCE SCRATCH
"""
import os
import subprocess
import sys
import tempfile


def report(cases):
    """A GoogleTest XML report of cases given as "ok", "failed", "skipped" or "notrun"."""
    body = ""
    for i, kind in enumerate(cases):
        status = "notrun" if kind == "notrun" else "run"
        result = "skipped" if kind == "skipped" else "completed"
        failure = '<failure message="x"/>' if kind == "failed" else ""
        body += f'<testcase name="c{i}" status="{status}" result="{result}">{failure}</testcase>'
    return f'<?xml version="1.0"?><testsuites><testsuite name="S">{body}</testsuite></testsuites>'


def ctest_line(number, name, outcome):
    marker = "   Passed" if outcome == "Passed" else "***" + outcome
    return f"{number:2}/9 Test  #{number}: {name} ......{marker}    1.25 sec\n"


# (what CTest said of each test, each shard's report or None, expected "passed failed")
ROWS = [
    ({"a.shard1of2": "Passed", "a.shard2of2": "Passed"}, {"a.shard1of2": ["ok", "ok"], "a.shard2of2": ["ok"]}, "3 0"),
    ({"a.shard1of1": "Failed"}, {"a.shard1of1": ["ok", "failed", "failed"]}, "1 2"),
    ({"a.shard1of1": "Timeout"}, {"a.shard1of1": None}, "0 1"),
    ({"a.shard1of1": "Exception: SegFault"}, {"a.shard1of1": ["ok"]}, "1 1"),
    ({"a.shard1of1": "Passed"}, {"a.shard1of1": ["ok", "skipped", "notrun"]}, "1 0"),
    ({"Static.X": "Passed", "Tools.Y": "Skipped", "Kit.Z": "Failed"}, {}, "1 1"),
    ({"Suite.Case": "Passed", "Suite.Other": "Failed"}, {}, "1 1"),
]


def main(source, scratch):
    os.makedirs(scratch, exist_ok=True)
    failures = 0
    for i, (outcomes, reports, expected) in enumerate(ROWS):
        with tempfile.TemporaryDirectory(dir=scratch) as folder:
            results = os.path.join(folder, "test-results")
            os.makedirs(results)
            for name, cases in reports.items():
                if cases is not None:
                    with open(os.path.join(results, name + ".xml"), "w") as out:
                        out.write(report(cases))
            log = os.path.join(folder, "ctest.log")
            with open(log, "w") as out:
                out.write("Test project somewhere\n")
                for number, (name, outcome) in enumerate(outcomes.items(), 1):
                    out.write(f"      Start {number}: {name}\n" + ctest_line(number, name, outcome))
            got = subprocess.run([sys.executable, os.path.join(source, "tools", "lane_counts.py"), log, results],
                                 capture_output=True, text=True, check=True).stdout.strip()
            if got != expected:
                print(f"row {i}: got {got!r}, want {expected!r}: {outcomes}")
                failures += 1
    print(f"{len(ROWS) - failures} of {len(ROWS)} rows as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
