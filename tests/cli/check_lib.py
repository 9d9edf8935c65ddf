"""Shared by the Python parts of the command-line check scripts: PASS and FAIL lines, counted.

    check(ok, what, detail="")  one line; a failure shows the start of DETAIL
    end()                       prints the counts; exits 1 when anything failed
"""
import sys

passed = failed = 0


def check(ok, what, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print("PASS " + what)
    else:
        failed += 1
        print("FAIL " + what + (": " + str(detail)[:600] if detail else ""))


def end():
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)
