#!/usr/bin/python3
"""Runs end-to-end tests of one file: all of them, or the one named.

    run.py test_launcher.py [test_name]

Exit code 0 when everything passed, 77 when everything was skipped (ctest's
SKIP_RETURN_CODE), 1 otherwise.
"""
import importlib.util
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit(__doc__)
    path = os.path.abspath(argv[1])
    name = os.path.splitext(os.path.basename(path))[0]
    sys.path.insert(0, os.path.dirname(path))
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)

    loader = unittest.TestLoader()
    suite = unittest.TestSuite()
    for obj in vars(module).values():
        if isinstance(obj, type) and issubclass(obj, unittest.TestCase) and obj.__module__ == name:
            if len(argv) == 3:
                if hasattr(obj, argv[2]):
                    suite.addTest(obj(argv[2]))
            else:
                suite.addTests(loader.loadTestsFromTestCase(obj))
    if suite.countTestCases() == 0:
        sys.exit(f"no test {argv[2:]} in {path}")
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    if not result.wasSuccessful():
        return 1
    return 77 if len(result.skipped) == result.testsRun else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
