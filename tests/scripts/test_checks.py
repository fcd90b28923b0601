"""The checking scripts: scripts/function-lengths measures C++ and Python functions as written
here, scripts/lib/state_diff.py names the first key and the facts where two state catalogs
part, and the play driver's state catalog adds up to its final state (when VESPERDEEP_DRIVER
names the driver)."""

import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def run(*command):
    result = subprocess.run([sys.executable, *command], capture_output=True, text=True)
    return result.returncode, result.stdout


def body(lines):
    return "".join(f"  x += {n};\n" for n in range(lines))


# C++ whose braces are not all function bodies: a raw string, an aggregate, a class, a
# constructor's brace initialiser and a lambda. `long_one` is 3 + 49 = 52 lines long.
CPP = ("#include <string>\n"
       "namespace {\n"
       "const char* kText = R\"(a { b } c {)\";\n"
       "constexpr int kTable[][2] = {{1, 2}, {3, 4}};\n"
       "class Holder {\n"
       " public:\n"
       "  Holder() : value{3}, other(4) {}\n"
       "  int get() const { return value; }\n"
       "  int value;\n"
       "  int other;\n"
       "};\n"
       "}  // namespace\n"
       "int long_one(int x) {\n"
       "  auto twice = [](int y) { return 2 * y; };\n"
       + body(49) +
       "}\n")

PYTHON = ("def short():\n    return 1\n\n\n"
          "class Box:\n    def long_one(self):\n" + "".join(f"        a = {n}\n" for n in range(50)))


class FunctionLengthsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        for name, text in (("code.cpp", CPP), ("tool", "#!/usr/bin/env python3\n" + PYTHON)):
            with open(os.path.join(self.folder.name, name), "w") as out:
                out.write(text)

    def tearDown(self):
        self.folder.cleanup()

    def check(self, *options):
        return run(os.path.join(ROOT, "scripts", "function-lengths"), *options, self.folder.name)

    def test_measures_every_function_from_its_head_to_its_end(self):
        status, out = self.check("--limit", "0")  # every function is over the limit
        self.assertEqual(status, 1)
        code, tool = (os.path.join(self.folder.name, name) for name in ("code.cpp", "tool"))
        self.assertEqual(out.splitlines(), [f"{code}:7: Holder is 1 lines (at most 0)",
                                            f"{code}:8: get is 1 lines (at most 0)",
                                            f"{code}:13: long_one is 52 lines (at most 0)",
                                            f"{tool}:2: short is 2 lines (at most 0)",
                                            f"{tool}:7: long_one is 51 lines (at most 0)"])

    def test_a_known_exception_is_printed_but_passes(self):
        tool, code = (os.path.join(self.folder.name, name) for name in ("tool", "code.cpp"))
        status, out = self.check("--limit", "50", "--allow", f"{tool}:long_one")
        self.assertEqual(status, 1)  # the C++ function is no known exception
        self.assertIn(f"{tool}:7: long_one is 51 lines (at most 50), a known exception", out)
        status, _ = self.check("--limit", "50", "--allow", f"{tool}:long_one",
                               "--allow", f"{code}:long_one")
        self.assertEqual(status, 0)


CATALOG = """== game 1 key 1 turn 0 mode 0
game turnCount: 0
creature 2 bat hp: 5
creature 2 bat baseDamage: 0
== game 1 key 2 turn 1 mode 0
game turnCount: 1
== game 1 key 3 turn 2 mode 0
game turnCount: 2
(gone) creature 2 bat hp
"""


class StateDiffTest(unittest.TestCase):
    def compare(self, expected, actual):
        with tempfile.TemporaryDirectory() as folder:
            paths = [os.path.join(folder, name) for name in ("expected", "actual")]
            for path, text in zip(paths, (expected, actual)):
                with open(path, "w") as out:
                    out.write(text)
            return run(os.path.join(ROOT, "scripts", "lib", "state_diff.py"), *paths)

    def test_equal_catalogs_pass_silently(self):
        self.assertEqual(self.compare(CATALOG, CATALOG), (0, ""))

    def test_names_the_first_differing_key_and_its_facts(self):
        cases = [  # a fact changed at key 2 in one catalog only; a fact gone one key early
            (CATALOG.replace("game turnCount: 1\n", "game turnCount: 1\ncreature 2 bat hp: 4\n"),
             "after game 1 key 2 turn 1 mode 0:\n    creature 2 bat hp: expected 5, actual 4\n"),
            (CATALOG.replace("game turnCount: 1\n", "game turnCount: 1\n(gone) creature 2 bat hp\n"),
             "after game 1 key 2 turn 1 mode 0:\n    creature 2 bat hp: expected 5, actual (none)\n"),
            (CATALOG.replace("baseDamage: 0", "baseDamage: 1"),
             "after game 1 key 1 turn 0 mode 0:\n    creature 2 bat baseDamage: expected 0, actual 1\n"),
        ]
        for actual, report in cases:
            status, out = self.compare(CATALOG, actual)
            self.assertEqual(status, 1)
            self.assertIn(report, out)

    def test_a_shorter_run_is_named(self):
        status, out = self.compare(CATALOG, CATALOG.split("== game 1 key 3")[0])
        self.assertEqual(status, 1)
        self.assertIn("the states agree for 2 keys; expected 3 keys, the game read 2", out)


@unittest.skipUnless(os.environ.get("VESPERDEEP_DRIVER"), "VESPERDEEP_DRIVER names no driver")
class DriverStateTest(unittest.TestCase):
    def test_the_catalog_adds_up_to_the_final_state(self):
        driver = os.environ["VESPERDEEP_DRIVER"]
        script = os.path.join(ROOT, "tests", "golden", "07-eat.keys")
        with tempfile.TemporaryDirectory() as folder:
            final, catalog = os.path.join(folder, "final"), os.path.join(folder, "catalog")
            subprocess.run([driver, "--script", script, "--no-flush", "--state", final,
                            "--states", catalog], cwd=os.path.dirname(driver), check=True,
                           stdout=subprocess.DEVNULL, env=dict(os.environ, SDL_VIDEODRIVER="dummy"))
            sys.path.insert(0, os.path.join(ROOT, "scripts", "lib"))
            import state_diff
            state = {}
            for _, lines in state_diff.sections(catalog):
                state_diff.apply(state, lines)
            with open(final) as text:
                written = [line.rstrip("\n") for line in text]
        self.assertIn("game rand draws: ", "\n".join(written))
        self.assertEqual(len(state), len(written))  # no name twice
        self.assertEqual(state, dict(state_diff.split_fact(line) for line in written))


if __name__ == "__main__":
    unittest.main()
