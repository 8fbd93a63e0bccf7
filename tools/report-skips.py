#!/usr/bin/env python3
"""Lists every GoogleTest case a run skipped, with its reason, from the XML reports the test
programs wrote (GTEST_OUTPUT=xml:DIR/). A skip never counts as a pass: with CI=true it is allowed
only where this machine cannot run the case (its CPU lacks the instructions the case exercises);
any other skip, or a directory without the reports it should hold, fails the run.
  report-skips.py LABEL:DIR:EXPECTED_REPORTS...
"""
import glob
import os
import sys
import xml.etree.ElementTree as ET


def cpu_flags():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("flags"):
                    return set(line.split(":", 1)[1].split())
    except OSError:
        pass
    return set()


FLAGS = cpu_flags()
# Skip reasons this kind of machine may give, each with the CPU flags whose absence explains it.
MACHINE_LIMITS = {
    "this CPU has no SHA extensions": {"sha_ni", "ssse3", "sse4_1"},
    "this CPU has no AVX2/BMI2": {"avx2", "bmi1", "bmi2"},
    "no fast path in this build or on this CPU": {"sse2"},
}


def machine_cannot(reason):
    needed = MACHINE_LIMITS.get(reason)
    return needed is not None and not needed <= FLAGS


def main(args):
    ci = os.environ.get("CI", "") == "true"
    status = 0
    skipped = []
    for arg in args:
        label, directory, expected = arg.rsplit(":", 2)
        reports = sorted(glob.glob(os.path.join(directory, "*.xml")))
        if len(reports) < int(expected):
            print("%s: %d test reports in %s, expected %s: skips there cannot be listed"
                  % (label, len(reports), directory, expected))
            status = 1
        for report in reports:
            program = os.path.splitext(os.path.basename(report))[0]
            for case in ET.parse(report).getroot().iter("testcase"):
                skip = case.find("skipped")
                if skip is None and case.get("result") != "skipped":
                    continue
                message = (skip.get("message", "") if skip is not None else "").strip()
                reason = message.splitlines()[-1].strip() if message else "(no reason given)"
                name = "%s.%s" % (case.get("classname"), case.get("name"))
                skipped.append((label, program, name, reason))
    print("== skipped cases: %s" % (len(skipped) or "none"))
    for label, program, name, reason in skipped:
        allowed = machine_cannot(reason)
        verdict = "this machine cannot run it" if allowed else "NOT ALLOWED in CI" if ci else "not a machine limit"
        print("  %s %s %s: %s [%s]" % (label, program, name, reason, verdict))
        if ci and not allowed:
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
