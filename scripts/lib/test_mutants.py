"""Self-tests of scripts/mutants' operators on small snippets of C++.

    python3 -m unittest discover -s scripts/lib -p 'test_mutants.py'
"""
import os, shutil, subprocess, sys, tempfile, textwrap, time, unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutants  # noqa: E402


def lines_of(snippet):
    return textwrap.dedent(snippet).strip("\n").split("\n")


def applied(lines, edits):
    """The text of `lines` after one mutant's edits."""
    out = list(lines)
    for i, new in edits.items():
        out[i] = new
    return "\n".join(out)


def changes(lines, i, operator):
    """Every text operator `operator` makes from line i."""
    return [applied(lines, edits) for op, _, edits, _ in mutants.more_mutants(lines, i, False)
            if op == operator]


class BranchOperators(unittest.TestCase):
    CHAIN = lines_of("""
        void f() {
          reset();
          if (a) {
            x = 0;
          } else {
            ++y;
          }
        }
    """)

    def test_a_statement_is_copied_into_the_sibling_branch(self):
        texts = changes(self.CHAIN, 2, "copy-branch")
        self.assertIn("\n  } else {\n    x = 0;\n    ++y;\n", texts[0])
        self.assertIn("  if (a) {\n    ++y;\n    x = 0;\n", texts[1])
        self.assertEqual(len(texts), 2)

    def test_a_branch_without_else_gets_one_holding_the_copy(self):
        lines = lines_of("""
            if (++counter > limit) {
              counter = 0;
            }
        """)
        self.assertEqual(changes(lines, 0, "copy-branch"),
                         ["if (++counter > limit) {\n  counter = 0;\n} else {\n  counter = 0;\n}"])

    def test_a_statement_is_copied_out_of_its_branch(self):
        texts = changes(self.CHAIN, 2, "copy-out")
        self.assertEqual(len(texts), 2)
        self.assertTrue(texts[0].endswith("    ++y;\n  }\n  x = 0;\n}"))
        one_line = ["  if (hunger < 0) hunger = 0;"]
        self.assertEqual(changes(one_line, 0, "copy-out"),
                         ["  if (hunger < 0) hunger = 0;\n  hunger = 0;"])

    def test_the_statement_before_a_chain_moves_into_each_branch(self):
        texts = changes(self.CHAIN, 2, "move-in")
        self.assertEqual(len(texts), 2)
        self.assertIn("\n\n  if (a) {\n    reset();\n    x = 0;", texts[0])
        self.assertIn("} else {\n    reset();\n    ++y;", texts[1])

    def test_returns_and_declarations_stay_where_they_are(self):
        lines = lines_of("""
            if (a) {
              return;
            } else {
              const int n = 2;
            }
        """)
        self.assertEqual(changes(lines, 0, "copy-branch") + changes(lines, 0, "copy-out"), [])


class ExchangeOperators(unittest.TestCase):
    def test_neighbouring_coordinates_of_a_call_are_exchanged(self):
        lines = ["  map.setTile(x, y, Wall);"]
        self.assertEqual(changes(lines, 0, "swap-call"), ["  map.setTile(y, x, Wall);"])

    def test_arguments_of_other_kinds_are_not_exchanged(self):
        for line in ('  printLeft(window, kLabelColumn, row, TCOD_BKGND_NONE, label->text);',
                     '  putCharEx(1, 2, glyph);', '  std::max(a, b);'):
            with self.subTest(line=line):
                self.assertNotIn(line.replace("window, kLabelColumn", "kLabelColumn, window"),
                                 changes([line], 0, "swap-call"))
                self.assertNotIn("putCharEx(2, 1", "".join(changes([line], 0, "swap-call")))
                self.assertNotIn("max(b, a)", "".join(changes([line], 0, "swap-call")))

    def test_one_axis_of_a_comparison_becomes_the_other(self):
        texts = changes(["  return x >= 0 && x < width && y < height;"], 0, "swap-xy")
        self.assertIn("  return y >= 0 && x < width && y < height;", texts)
        self.assertIn("  return x >= 0 && x < height && y < height;", texts)
        self.assertIn("  return y >= 0 && y < width && x < height;", texts)  # throughout

    def test_a_loop_changes_its_axis_in_the_condition_only(self):
        texts = changes(["  for (int y = 0; y < height; ++y) {"], 0, "swap-xy")
        self.assertEqual(sorted(texts), ["  for (int y = 0; x < height; ++y) {",
                                         "  for (int y = 0; y < width; ++y) {"])

    def test_the_guard_of_a_count_is_exchanged_with_the_count(self):
        lines = ["  if (angry && ++turnsSinceAttack > kCalmDownLimit) {"]
        self.assertEqual(changes(lines, 0, "swap-guard"),
                         ["  if (++turnsSinceAttack > kCalmDownLimit && angry) {"])
        self.assertEqual(changes(["  if (a && b) {"], 0, "swap-guard"), [])


class LoopAndFlagOperators(unittest.TestCase):
    PROGRAM = lines_of("""
        #include <cstdio>
        #include <map>
        int main() {
          std::map<int, char> m{{1, 'a'}, {2, 'b'}, {3, 'c'}};
          for (auto& entry : m)
            std::printf("%c", entry.second);
          for (unsigned i = 0; i < 3; ++i)
            std::printf("%u", i);
          for (int i = 1; i <= 3; ++i) {
            std::printf("%d", i);
          }
        }
    """)

    def run_program(self, edits):
        compiler = shutil.which("c++") or shutil.which("g++")
        if compiler is None:
            self.skipTest("no C++ compiler")
        with tempfile.TemporaryDirectory() as tmp:
            source = os.path.join(tmp, "loop.cpp")
            open(source, "w").write(applied(self.PROGRAM, edits))
            subprocess.run([compiler, "-std=c++17", "-o", os.path.join(tmp, "loop"), source],
                           check=True)
            return subprocess.run([os.path.join(tmp, "loop")], check=True,
                                  stdout=subprocess.PIPE).stdout.decode()

    def test_each_loop_runs_back_to_front(self):
        self.assertEqual(self.run_program({}), "abc012123")
        for i, expected in ((4, "cba012123"), (6, "abc210123"), (8, "abc012321")):
            with self.subTest(line=self.PROGRAM[i]):
                edits = [e for op, _, e, _ in mutants.more_mutants(self.PROGRAM, i, False)
                         if op == "reverse-loop"]
                self.assertEqual(len(edits), 1)
                self.assertEqual(self.run_program(edits[0]), expected)

    def test_libtcod_values_become_others_of_their_kind(self):
        line = '  root.printf(40, 24, TCOD_BKGND_SET, TCOD_CENTER, "%s", kCredit);'
        texts = [t for _, _, edits, _ in mutants.more_mutants([line], 0, True)
                 for t in edits.values()]
        self.assertEqual(sorted(texts), sorted([
            line.replace("TCOD_BKGND_SET", "TCOD_BKGND_NONE"),
            line.replace("TCOD_CENTER", "TCOD_LEFT"),
            line.replace("TCOD_CENTER", "TCOD_RIGHT"),
        ]))
        fov = changes(["  fovMap->computeFov(x, y, radius, true, FOV_BASIC);"], 0, "tcod-flag")
        self.assertEqual(len(fov), 2)

    def test_lines_of_fixed_text_get_only_the_flag_changes(self):
        with tempfile.TemporaryDirectory() as tree:
            os.makedirs(os.path.join(tree, "source"))
            open(os.path.join(tree, "source", "Screen.cpp"), "w").write(
                'void f() {\n  root.print(1, 2, TCOD_BKGND_NONE, TCOD_LEFT, "%s", "Hello");\n'
                '  // TCOD_BKGND_SET in a comment\n}\n')
            found = mutants.generate(tree)
        self.assertEqual(sorted(m["change"] for m in found),
                         ["TCOD_BKGND_NONE -> TCOD_BKGND_SET", "TCOD_LEFT -> TCOD_CENTER",
                          "TCOD_LEFT -> TCOD_RIGHT"])


class TestRuns(unittest.TestCase):
    def test_a_run_that_writes_without_end_is_stopped_and_counts_as_killed(self):
        with tempfile.TemporaryDirectory() as work:
            binary = os.path.join(work, "endless")
            open(binary, "w").write('#!/bin/sh\nexec yes "WHAT? 3 44"\n')
            os.chmod(binary, 0o755)
            started = time.time()
            status, failed = mutants.run_shards(binary, 2, started + 60, dict(os.environ), "")
        self.assertEqual((status, failed), ("killed", []))
        self.assertLess(time.time() - started, 30)


if __name__ == "__main__":
    unittest.main()
