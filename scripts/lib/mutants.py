"""Mutation run for scripts/mutants.

Catalogue (each applied to one occurrence on one line at a time):
  rel     <  <-> <=,  >  <-> >=,  == <-> !=
  const   an integer literal n -> n+1 and n-1
  swap    the two arguments of a subtraction `a - b` (simple operands) or of a sign-like call
          with two arguments (sign, min, max, std::min, std::max)
  logic   && <-> ||
  negate  the condition of an if/while is negated
  delete  a statement line that is an assignment, an increment/decrement or a call
  order   two adjacent statement lines that are both calls are swapped
  copy-branch  a statement of one branch of an if chain copied to the top of a sibling branch
               (an else is added for it when there is none)
  copy-out     a statement of a branch (or of a one-line if) copied after the if
  move-in      the statement just before an if chain moved to the top of one of its branches
  swap-call    two neighbouring arguments of a call exchanged, both coordinates, constants or
               numbers (x, player->y, kPanelWidth, 3)
  swap-xy      in a comparison one x becomes y (cx/cy, width/height, attacker/defender...), and
               on a line holding both, the two are exchanged throughout
  swap-guard   the operands of a two-operand &&/|| exchanged where one of them counts (++/--)
  reverse-loop a counted loop or a range loop run back to front
  tcod-flag    a libtcod background flag, alignment, field-of-view algorithm or colour control
               code changed for another value of its kind (also on lines of fixed text)
Run one operator with --only '|name|' (an id holds the operator between bars).

Lines that cannot matter are skipped: blank lines, comments, preprocessor lines, asserts and
diagnostics (std::cerr, fprintf, perror), and lines whose only work is drawing fixed text
(a call whose arguments contain a string literal and no rule operator). Files that are not game
rules are skipped: main.cpp, FontSheet.cpp (font decoding, pinned by its own tests), App.cpp and
Display.cpp (window start-up), Keyboard.cpp (SDL key plumbing), Cp437.cpp (glyph tables).

A mutant's id is stable while code moves: file, the stripped line text, the operator and the
occurrence of that operator on that line (plus a counter for identical lines in one file).

The sample: mutants are ordered by the SHA-1 of their id and the first --max (default 200) are
run, so the same code always gives the same sample and an edit elsewhere does not reshuffle it;
--max 0 runs every mutant (about half an hour on an idle two-core machine, twice that or more
while other builds share it).

Speed: the scratch tree is built once, at -O1 with Ninja and lld (when present) and with the
standard library's index checks (a read past a container's end aborts), and each mutant
recompiles its one file and relinks vesperdeep_tests alone. The tests that killed the latest
mutants of the same file run first, in one process; only when they pass does the rest run, as two
GoogleTest shards side by side, each stopping at its first failure (the first failing shard ends
the other). Suites whose whole subject is a file the run leaves out (the key wait, the font
loader) are not run: no mutant can reach them.
"""
import argparse, hashlib, io, os, re, resource, shutil, signal, subprocess, sys, tarfile, tempfile, time

SKIP_FILES = {"main.cpp", "FontSheet.cpp", "App.cpp", "Display.cpp", "Keyboard.cpp", "Cp437.cpp"}
CHUNK = 50  # mutants run in file order within each chunk of the sample

# Test suites whose whole subject is a file the run leaves out (the key wait and the font loader):
# they cannot see a mutant, so they are not run.
SKIP_TESTS = ["KeyboardTest.*", "KeyboardCloseTest.*", "FontSheet.*"]
DIAG = re.compile(r"\b(assert|static_assert|std::cerr|fprintf|perror|std::fputs|throw)\b")
STRING = re.compile(r'"(?:[^"\\]|\\.)*"')
RULE_OPS = re.compile(r"(<=|>=|==|!=|&&|\|\||[<>+\-*/%]|\?)")
CALL_STMT = re.compile(r"^[\w:.\->\[\]()]+\s*\(.*\)\s*;$")
ASSIGN_STMT = re.compile(r"^[\w:.\->\[\]*]+\s*([+\-*/%|&]?=)[^=].*;$")
INCR_STMT = re.compile(r"^(\+\+|--)?[\w:.\->\[\]]+(\+\+|--)?\s*;$")


def strip_strings(s):
    return STRING.sub(lambda m: '"' + "_" * (len(m.group()) - 2) + '"', s)


def skippable(text):
    t = text.strip()
    if not t or t.startswith(("//", "/*", "*", "#")):
        return True
    if DIAG.search(t):
        return True
    if STRING.search(t):
        code = strip_strings(t)
        # fixed text drawn or logged with no rule in the line
        bare = STRING.sub("", t)
        if not RULE_OPS.search(re.sub(r"->", "", bare)):
            return True
    return False


def fixed_text_only(line):
    """A line skipped only because it draws or logs fixed text (not a comment, preprocessor line
    or diagnostic): its drawing flags still matter."""
    t = line.strip()
    return skippable(line) and bool(t) and not t.startswith(("//", "/*", "*", "#")) \
        and not DIAG.search(t)


def code_positions(line, pattern):
    """Match positions of pattern outside strings and comments."""
    masked = strip_strings(line)
    cut = masked.find("//")
    if cut >= 0:
        masked = masked[:cut] + " " * (len(masked) - cut)
    return [m for m in re.finditer(pattern, masked)]


def mutate_line(line):
    """Yield (operator, occurrence, new_line, change) for one line."""
    out = []
    for operator in CLASSIC_OPERATORS:
        out.extend(operator(line))
    return out


def relational_mutants(line):
    """Each relational operator turned into its neighbour; template brackets, <<, >> and -> are
    left alone (#include lines are skipped already)."""
    out = []
    rel = {"<=": "<", "<": "<=", ">=": ">", ">": ">=", "==": "!=", "!=": "=="}
    occ = 0
    masked_line = line
    while True:  # template brackets are not relational operators
        nxt = re.sub(r"(?<=\w)<([\w:,\s*&]*)>", lambda t: " " + t.group(1) + " ", masked_line)
        if nxt == masked_line:
            break
        masked_line = nxt
    for m in code_positions(masked_line, r"(?<![<>=!\-])(<=|>=|==|!=|<|>)(?![<>=])"):
        op = m.group(1)
        before = line[:m.start()]
        if op in "<>" and re.search(r"(template|static_cast|std::\w+|vector|array|pair|optional|unique_ptr)\s*$", before):
            continue
        if op == ">" and before.endswith("-"):
            continue
        new = line[:m.start()] + rel[op] + line[m.end():]
        out.append(("rel", occ, new, f"{op} -> {rel[op]}"))
        occ += 1
    return out


def constant_mutants(line):
    """Each integer constant one more and one less (never below 0)."""
    out = []
    occ = 0
    for m in code_positions(line, r"(?<![\w.])(\d+)(?![\w.])"):
        n = int(m.group(1))
        for d, tag in ((1, "+1"), (-1, "-1")):
            if n + d < 0:
                continue
            new = line[:m.start()] + str(n + d) + line[m.end():]
            out.append(("const" + tag, occ, new, f"{n} -> {n + d}"))
        occ += 1
    return out


def swapped_operand_mutants(line):
    """The operands of a subtraction exchanged, and the arguments of sign, min and max."""
    out = []
    occ = 0
    operand = r"([A-Za-z_][\w.]*(?:->[A-Za-z_]\w*)*|\d+)"  # a name, a member through ->, or a number
    for m in code_positions(line, r"(?<![\w\)\].>])" + operand + r"\s-\s" + operand + r"(?![\w(\[.]|->)"):
        new = line[:m.start()] + m.group(2) + " - " + m.group(1) + line[m.end():]
        out.append(("swap-sub", occ, new, f"{m.group(0)} -> {m.group(2)} - {m.group(1)}"))
        occ += 1
    occ = 0
    for m in code_positions(line, r"\b((?:std::)?(?:sign|min|max))\(([^(),]+),\s*([^(),]+)\)"):
        new = line[:m.start()] + f"{m.group(1)}({m.group(3).strip()}, {m.group(2).strip()})" + line[m.end():]
        out.append(("swap-args", occ, new, f"{m.group(0)} -> args swapped"))
        occ += 1
    return out


def logic_mutants(line):
    """Each && turned into || and back."""
    out = []
    for occ, m in enumerate(code_positions(line, r"(&&|\|\|)")):
        other = "||" if m.group(1) == "&&" else "&&"
        new = line[:m.start()] + other + line[m.end():]
        out.append(("logic", occ, new, f"{m.group(1)} -> {other}"))
    return out


def negation_mutants(line):
    """The condition of an if or while negated, unless it declares its variable (which cannot be
    negated as it stands)."""
    m = re.match(r"^(\s*(?:\}\s*else\s+)?(?:if|while)\s*)\((.*)\)(\s*\{?\s*)$", line)
    declares = m and re.match(r"\s*(?:const\s+)?[A-Za-z_][\w:]*\s*[*&]*\s*[A-Za-z_]\w*\s*=[^=]", m.group(2))
    if m and not declares:
        return [("negate", 0, f"{m.group(1)}(!({m.group(2)})){m.group(3)}", "condition negated")]
    return []


def deletion_mutants(line):
    """A call, assignment or increment statement deleted (declarations and jumps are kept)."""
    t = line.strip()
    if t.endswith(";") and not t.startswith(("return", "break", "continue", "case", "default")) \
            and "{" not in t and "}" not in t and not re.match(r"^(const\s+|static\s+|auto\s|int\s|bool\s|float\s|double\s|unsigned\s|std::|[A-Z]\w*(::\w+)*\s*[&*]?\s+\w+\s*[=({;])", t):
        if CALL_STMT.match(t) or ASSIGN_STMT.match(t) or INCR_STMT.match(t):
            indent = line[:len(line) - len(line.lstrip())]
            return [("delete", 0, indent + ";", "statement deleted")]
    return []


CLASSIC_OPERATORS = (relational_mutants, constant_mutants, swapped_operand_mutants, logic_mutants,
                     negation_mutants, deletion_mutants)


def is_call_stmt(t):
    t = t.strip()
    return bool(CALL_STMT.match(t)) and not t.startswith(("return", "if", "while", "for")) and "=" not in strip_strings(t).replace("==", "")


# ---- Operators over more than one line, or over libtcod's own constants ---------------------------
# Each takes the file's lines and the index of one line and returns a list of
# (operator, occurrence, edits, change), where edits maps a line index to its new text (a text
# with newlines in it stands for several lines, so a statement can be inserted).

DECLARATION = re.compile(r"^(const\s+|static\s+|auto\s|int\s|bool\s|float\s|double\s|unsigned\s|"
                         r"std::|[A-Z]\w*(::\w+)*\s*[&*]?\s+\w+\s*[=({;])")
IF_HEAD = re.compile(r"^(\s*)if\s*\(")
ELSE_LINE = re.compile(r"^\s*\}\s*else\b")
ONE_LINE_IF = re.compile(r"^(\s*)if\s*\((.*)\)\s+([^{}]*;)\s*$")


def indent_of(line):
    return line[:len(line) - len(line.lstrip())]


def is_statement(line):
    """A one-line assignment, increment or call, the kinds a branch can gain or lose."""
    t = line.strip()
    if not t.endswith(";") or "{" in t or "}" in t or DECLARATION.match(t):
        return False
    if t.startswith(("return", "break", "continue", "case", "default", "if", "for", "while")):
        return False
    return bool(CALL_STMT.match(t) or ASSIGN_STMT.match(t) or INCR_STMT.match(t))


def is_movable(line):
    """A statement, or a one-line if (a check with its action) that can move into a branch."""
    return is_statement(line) or bool(ONE_LINE_IF.match(line)) and not skippable(line)


def if_chain(lines, i):
    """The if/else chain whose `if` is line i: a list of branches (first body line, one past the
    last) and the index of its closing brace, or None when line i opens no braced chain."""
    m = IF_HEAD.match(lines[i])
    if not m or ELSE_LINE.match(lines[i]):
        return None
    ind = m.group(1)
    j = i
    while j < len(lines) and not lines[j].rstrip().endswith("{"):
        if lines[j].rstrip().endswith(";"):
            return None  # a one-line if
        j += 1
    branches, start = [], j + 1
    k = start
    while k < len(lines):
        line = lines[k]
        if indent_of(line) == ind and line.strip().startswith("}"):
            branches.append((start, k))
            if ELSE_LINE.match(line) and line.rstrip().endswith("{"):
                start = k + 1
            elif line.strip() == "}":
                return branches, k
            else:
                return None  # an else without braces: left alone
        elif line.strip() and len(indent_of(line)) < len(ind):
            return None
        k += 1
    return None


def body_statements(lines, start, end, ind):
    """The direct statements of a branch body (indented one level below the chain)."""
    inner = ind + "  "
    return [k for k in range(start, end)
            if indent_of(lines[k]) == inner and is_statement(lines[k]) and not skippable(lines[k])]


def op_branch(lines, i):
    """copy-branch: a statement of one branch is copied to the top of a sibling branch (a
    missing else is added for it); copy-out: a branch's statement is copied after the chain, so
    it runs in every case; move-in: the statement just before a chain moves to the top of one of
    its branches, so it runs in that case only."""
    out = []
    chain = if_chain(lines, i)
    if chain is not None:
        branches, close = chain
        ind = indent_of(lines[i])
        occ = {"copy-branch": 0, "copy-out": 0, "move-in": 0}
        for b, (start, end) in enumerate(branches):
            for k in body_statements(lines, start, end, ind):
                stmt = lines[k].strip()
                for o, (ostart, _) in enumerate(branches):
                    if o == b:
                        continue
                    out.append(("copy-branch", occ["copy-branch"],
                                {ostart: ind + "  " + stmt + "\n" + lines[ostart]},
                                f"`{stmt}` copied into branch {o + 1}"))
                    occ["copy-branch"] += 1
                if len(branches) == 1:
                    out.append(("copy-branch", occ["copy-branch"],
                                {close: ind + "} else {\n" + ind + "  " + stmt + "\n" + lines[close]},
                                f"`{stmt}` copied into an added else"))
                    occ["copy-branch"] += 1
                out.append(("copy-out", occ["copy-out"], {close: lines[close] + "\n" + ind + stmt},
                            f"`{stmt}` copied after the if"))
                occ["copy-out"] += 1
        before = i - 1
        if before >= 0 and indent_of(lines[before]) == ind and is_movable(lines[before]):
            stmt = lines[before].strip()
            for b, (start, _) in enumerate(branches):
                out.append(("move-in", occ["move-in"],
                            {before: "", start: ind + "  " + stmt + "\n" + lines[start]},
                            f"`{stmt}` moved into branch {b + 1} of the next if"))
                occ["move-in"] += 1
    m = ONE_LINE_IF.match(lines[i])
    if m and is_statement(m.group(3)):
        out.append(("copy-out", 0, {i: lines[i] + "\n" + m.group(1) + m.group(3).strip()},
                    f"`{m.group(3).strip()}` copied after the if"))
    return out


OPERAND = r"[A-Za-z_]\w*(?:(?:->|\.)[A-Za-z_]\w*)*|\d+"
CALL_OPEN = re.compile(r"\b([A-Za-z_]\w*)\s*\(")
SIGN_LIKE = {"sign", "min", "max"}


def call_arguments(masked, open_paren):
    """The top-level arguments of the call whose `(` is at open_paren: (start, end) spans."""
    depth, start, spans = 0, open_paren + 1, []
    for k in range(open_paren, len(masked)):
        c = masked[k]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                spans.append((start, k))
                return spans
        elif c == "," and depth == 1:
            spans.append((start, k))
            start = k + 1
    return []  # the call goes on over the next line


PAIR_NAMES = None  # filled below, from PAIRS


def coordinate_like(operand):
    """A number, a constant of the game (kName) or a name of an axis or side (x, player->y,
    width, defender): arguments that can stand in each other's place and still build."""
    last = re.split(r"->|\.", operand)[-1]
    return operand.isdigit() or bool(re.fullmatch(r"k[A-Z]\w*", last)) or last in PAIR_NAMES


def op_swap_call(line):
    """swap-call: two neighbouring arguments of a call exchanged, when both are plain names,
    members or numbers and differ (sign, min and max are the swap-args operator's)."""
    out, occ = [], 0
    masked = strip_strings(line)
    cut = masked.find("//")
    if cut >= 0:
        masked = masked[:cut]
    for m in CALL_OPEN.finditer(masked):
        if m.group(1) in SIGN_LIKE or m.group(1) in ("if", "while", "for", "switch", "return"):
            continue
        spans = call_arguments(masked, m.end() - 1)
        for (a0, a1), (b0, b1) in zip(spans, spans[1:]):
            a, b = line[a0:a1].strip(), line[b0:b1].strip()
            if a == b or not re.fullmatch(OPERAND, a) or not re.fullmatch(OPERAND, b):
                continue
            if not (coordinate_like(a) and coordinate_like(b)) or a.isdigit() and b.isdigit():
                continue  # two literals: the const operator already moves each one
            new = line[:a0] + line[a0:a1].replace(a, b) + "," + line[b0:b1].replace(b, a) + line[b1:]
            out.append(("swap-call", occ, new, f"{m.group(1)}({a}, {b}) -> ({b}, {a})"))
            occ += 1
    return out


# Names of the two axes and the two sides of a fight: a rule that mixes one up with the other
# is wrong only for some cells or some fights.
PAIRS = [("x", "y"), ("cx", "cy"), ("px", "py"), ("dx", "dy"), ("x1", "y1"), ("x2", "y2"),
         ("stepX", "stepY"), ("width", "height"), ("w", "h"), ("attacker", "defender")]
PAIR_NAMES = {name for pair in PAIRS for name in pair}
REL_OP = re.compile(r"(<=|>=|==|!=|(?<![<\-])<(?![<=])|(?<![>\-])>(?![>=]))")


def op_swap_pair(line):
    """swap-xy: in a comparison, one x (width, attacker...) becomes its partner y (height,
    defender...); and on any line holding both, the two are exchanged throughout."""
    out, occ = [], 0
    masked = strip_strings(line)
    cut = masked.find("//")
    if cut >= 0:
        masked = masked[:cut] + " " * (len(masked) - cut)
    lo, hi = 0, len(line)
    if line.lstrip().startswith("for (") and masked.count(";") >= 2:
        lo = masked.index(";") + 1  # a loop's own variable is only changed in its condition
        hi = masked.index(";", lo)
    compares = bool(REL_OP.search(re.sub(r"(?<=\w)<[\w:,\s*&]*>", " ", masked)))
    for a, b in PAIRS:
        found = {n: [m for m in re.finditer(r"(?<![\w])" + n + r"(?!\w)", masked)] for n in (a, b)}
        if compares:
            for n, partner in ((a, b), (b, a)):
                for m in found[n]:
                    if not lo <= m.start() < hi:
                        continue
                    new = line[:m.start()] + partner + line[m.end():]
                    out.append(("swap-xy", occ, new, f"one {n} -> {partner}"))
                    occ += 1
        if found[a] and found[b]:
            spans = sorted([(m.start(), m.end(), b) for m in found[a]] +
                           [(m.start(), m.end(), a) for m in found[b]])
            new, last = "", 0
            for s, e, rep in spans:
                new += line[last:s] + rep
                last = e
            out.append(("swap-xy", occ, new + line[last:], f"{a} <-> {b} throughout"))
            occ += 1
    return out


REVERSED_HELPER = ("#include <iterator>\n"
                   "template <class C> struct MutantReversed { C& c; "
                   "auto begin() const { return std::rbegin(c); } "
                   "auto end() const { return std::rend(c); } };\n"
                   "template <class C> MutantReversed<C> mutantReversed(C& c) { return {c}; }\n")
COUNTED_FOR = re.compile(r"^(\s*for\s*\()([\w:]+)\s+(\w+)\s*=\s*([^;]+);\s*(\w+)\s*(<=?)\s*([^;&|]+?)\s*;"
                         r"\s*(?:\+\+(\w+)|(\w+)\+\+)\s*\)(.*)$")
RANGE_FOR = re.compile(r"^(\s*for\s*\()([^:;()]+[^:]):(?!:)\s*(.+)\)(\s*\{?\s*)$")


def op_reverse_loop(lines, i):
    """reverse-loop: a counted loop runs from its last value down to its first, and a range
    loop runs over its container back to front."""
    line = lines[i]
    m = COUNTED_FOR.match(line)
    if m and m.group(3) == m.group(5) and m.group(3) == (m.group(8) or m.group(9)):
        head, typ, var, first, op, bound, rest = m.group(1, 2, 3, 4, 6, 7, 10)
        end = f"({bound}) + 1" if op == "<=" else bound
        new = f"{head}{typ} {var} = {end}; {var}-- > ({first});){rest}"
        return [("reverse-loop", 0, {i: new}, "counted loop reversed")]
    m = RANGE_FOR.match(line)
    if m and not line.strip().startswith("for (;"):
        new = f"{m.group(1)}{m.group(2).rstrip()} : mutantReversed({m.group(3).strip()})){m.group(4)}"
        return [("reverse-loop", 0, {0: REVERSED_HELPER + lines[0], i: new},
                 "range loop reversed")]
    return []


# libtcod's flags and enumerations, each value with the values it is changed to.
TCOD_VALUES = {}
for _group, _others in ((["TCOD_LEFT", "TCOD_RIGHT", "TCOD_CENTER"], None),
                        (["FOV_BASIC", "FOV_SHADOW", "FOV_RESTRICTIVE"], None),
                        (["TCOD_COLCTRL_%d" % n for n in range(1, 6)], None)):
    for _v in _group:
        TCOD_VALUES[_v] = [o for o in _group if o != _v]
TCOD_VALUES["TCOD_BKGND_NONE"] = ["TCOD_BKGND_SET"]
TCOD_VALUES["TCOD_BKGND_SET"] = ["TCOD_BKGND_NONE"]
for _v in ("MULTIPLY", "LIGHTEN", "DARKEN", "SCREEN", "COLOR_DODGE", "COLOR_BURN", "ADD", "ADDA",
           "BURN", "OVERLAY", "ALPH", "DEFAULT"):
    TCOD_VALUES["TCOD_BKGND_" + _v] = ["TCOD_BKGND_NONE", "TCOD_BKGND_SET"]
TCOD_NAME = re.compile(r"\b(TCOD_\w+|FOV_\w+)\b")


def op_tcod_flag(line):
    """tcod-flag: a libtcod background flag, alignment, field-of-view algorithm or colour
    control code becomes another value of its kind."""
    out, occ = [], 0
    for m in code_positions(line, TCOD_NAME):
        for other in TCOD_VALUES.get(m.group(1), []):
            out.append(("tcod-flag", occ, line[:m.start()] + other + line[m.end():],
                        f"{m.group(1)} -> {other}"))
            occ += 1
    return out


def op_swap_guard(line):
    """swap-guard: the two operands of a two-operand && or || exchanged where one of them
    counts (++/--), so that the count happens in other cases."""
    m = re.match(r"^(\s*(?:\}\s*else\s+)?(?:if|while)\s*\()(.*)\)(\s*\{?\s*|\s+[^{}]*;\s*)$", line)
    if not m:
        return []
    parts = re.split(r"\s(&&|\|\|)\s", m.group(2))
    if len(parts) != 3 or not any(re.search(r"\+\+|--", p) for p in (parts[0], parts[2])):
        return []
    new = f"{m.group(1)}{parts[2]} {parts[1]} {parts[0]}){m.group(3)}"
    return [("swap-guard", 0, new, "operands of the guard exchanged")]


# The operators above, by what they need: one line, or the file's lines and an index.
LINE_OPERATORS = [op_swap_call, op_swap_pair, op_swap_guard]
BLOCK_OPERATORS = [op_branch, op_reverse_loop]
# Applied also to lines that only draw fixed text: the flags decide how it is drawn.
TEXT_OPERATORS = [op_tcod_flag]


def more_mutants(lines, i, fixed_text):
    """Every mutant of the operators above at line i: (operator, occurrence, edits, change).
    `fixed_text`: the line draws fixed text only, so only the drawing flags are changed."""
    out = [(op, occ, {i: new}, change) for f in TEXT_OPERATORS for op, occ, new, change in f(lines[i])]
    if fixed_text:
        return out
    out += [(op, occ, {i: new}, change) for f in LINE_OPERATORS for op, occ, new, change in f(lines[i])]
    out += [mutant for f in BLOCK_OPERATORS for mutant in f(lines, i)]
    unique, seen = [], set()
    for mutant in out:  # two operators may make the same change (tileAt(x, y): swap-call, swap-xy)
        key = tuple(sorted(mutant[2].items()))
        if key not in seen:
            seen.add(key)
            unique.append(mutant)
    return unique


def generate(tree):
    mutants = []
    src = os.path.join(tree, "source")
    for name in sorted(os.listdir(src)):
        if not name.endswith(".cpp") or name in SKIP_FILES:
            continue
        lines = open(os.path.join(src, name)).read().split("\n")
        seen = {}
        in_block = False
        for i, line in enumerate(lines):
            s = line.strip()
            if in_block:
                if "*/" in s:
                    in_block = False
                continue
            if s.startswith("/*") and "*/" not in s:
                in_block = True
                continue
            fixed_text = skippable(line)
            if fixed_text and not fixed_text_only(line):
                continue
            key = (name, s)
            dup = seen.get(key, 0)
            seen[key] = dup + 1
            found = [] if fixed_text else [(op, occ, {i: new}, change)
                                           for op, occ, new, change in mutate_line(line)]
            for op, occ, edits, change in found + more_mutants(lines, i, fixed_text):
                mid = f"{name}|{s}|{op}|{occ}|{dup}"
                mutants.append(dict(id=mid, file=name, line=i + 1, change=change, edits=edits))
            if fixed_text:
                continue
            if i + 1 < len(lines) and is_call_stmt(line) and is_call_stmt(lines[i + 1]) \
                    and not skippable(lines[i + 1]) and line.strip() != lines[i + 1].strip():
                mid = f"{name}|{s}|order|0|{dup}"
                mutants.append(dict(id=mid, file=name, line=i + 1, change="swapped with next call",
                                    edits={i: lines[i + 1], i + 1: line}))
    return mutants


def run(cmd, cwd, timeout=None, env=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=timeout, env=env)


def sync_tree(repo, tree, rev):
    """Makes `tree` hold exactly the tracked files of the checkout (or of commit `rev`), rewriting
    only those that differ, with a fresh time stamp so that the build sees the change; its build
    directory stays."""
    wanted = {}
    if rev:
        data = subprocess.run(["git", "archive", "--format=tar", rev], cwd=repo, check=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout
        with tarfile.open(fileobj=io.BytesIO(data)) as tar:
            for member in tar.getmembers():
                if member.isfile():
                    wanted[member.name] = tar.extractfile(member).read()
    else:
        for f in filter(None, run(["git", "ls-files", "-z"], repo).stdout.decode().split("\0")):
            path = os.path.join(repo, f)
            if os.path.isfile(path):
                wanted[f] = open(path, "rb").read()
    for f, content in wanted.items():
        dst = os.path.join(tree, f)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        if not os.path.exists(dst) or open(dst, "rb").read() != content:
            with open(dst, "wb") as out:
                out.write(content)
    for root, dirs, names in os.walk(tree):
        if root == tree:
            dirs[:] = [d for d in dirs if d != "build"]
        for name in names:
            rel = os.path.relpath(os.path.join(root, name), tree)
            if rel not in wanted:
                os.remove(os.path.join(root, name))


def configure_command(tree, bdir):
    """The scratch build: the unit tests only, -O1 (mutants need a fast compile more than a
    fast binary; the tests take seconds either way), Ninja (a near-free up-to-date check) and
    lld when the machine has it (the relink after each mutant is most of the build).
    _GLIBCXX_ASSERTIONS checks every index into a standard container: a mutant that reads one
    tile past a row's end aborts its test instead of reading whatever lies there unseen."""
    cmd = ["cmake", "-S", tree, "-B", bdir, "-DCMAKE_BUILD_TYPE=Release",
           "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG -D_GLIBCXX_ASSERTIONS",
           "-DVESPERDEEP_SANITIZE=OFF"]
    if shutil.which("ninja"):
        cmd += ["-G", "Ninja"]
    if shutil.which("ld.lld"):
        cmd += ["-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld"]
    return cmd


FAILED = re.compile(r"^\[  FAILED  \] ([\w/.]+)(?: \(|$)", re.M)
# The most a test run may write to its log and any other file. The unmutated tests write a few
# kB; a mutant that prints a diagnostic in an endless loop (a setTile past the level) is stopped
# by SIGXFSZ here, and counts as killed, instead of filling the disk and this process's memory.
OUTPUT_LIMIT = 64 << 20


def limit_output():
    resource.setrlimit(resource.RLIMIT_FSIZE, (OUTPUT_LIMIT, OUTPUT_LIMIT))


def run_tests(binary, shards, timeout, env, first=()):
    """Runs the unit tests against one mutant. The tests in `first` (those that killed the latest
    mutants of the same file) run first, in one process; when one fails the mutant is killed at
    once. Otherwise the remaining tests run as `shards` GoogleTest shards side by side, each
    stopping at its first failure, and the first shard to fail ends the others.
    Returns (status, failed test names); status is killed, survived or timeout."""
    deadline = time.time() + timeout
    if first:
        status, failed = run_shards(binary, 1, deadline, env, ":".join(first))
        if status != "survived":
            return status, failed
    return run_shards(binary, shards, deadline, env, "-" + ":".join(list(first) + SKIP_TESTS))


def run_shards(binary, shards, deadline, env, gtest_filter):
    procs, logs = [], []
    cmd = [binary, "--gtest_brief=1"] + ([f"--gtest_filter={gtest_filter}"] if gtest_filter else [])
    for i in range(shards):
        e = dict(env, GTEST_FAIL_FAST="1")
        if shards > 1:
            e.update(GTEST_TOTAL_SHARDS=str(shards), GTEST_SHARD_INDEX=str(i))
        log = tempfile.TemporaryFile()
        logs.append(log)
        procs.append(subprocess.Popen(cmd, cwd=os.path.dirname(binary), stdout=log,
                                      stderr=subprocess.STDOUT, env=e, start_new_session=True,
                                      preexec_fn=limit_output))
    status = "survived"
    try:
        while any(p.poll() is None for p in procs):
            if any(p.returncode not in (None, 0) for p in procs):
                status = "killed"; break
            if time.time() > deadline:
                status = "timeout"; break
            time.sleep(0.02)
        if status == "survived" and any(p.returncode != 0 for p in procs):
            status = "killed"
    finally:
        for p in procs:  # each shard leads its own process group (death-test children too)
            if p.poll() is None:
                try:
                    os.killpg(p.pid, 9)
                except ProcessLookupError:
                    pass
            p.wait()
    failed = []
    for log in logs:
        log.seek(0)
        for line in log:  # one line at a time: a stopped run's log holds up to OUTPUT_LIMIT
            for name in FAILED.findall(line.decode(errors="replace")):
                if name not in failed and "," not in name:
                    failed.append(name)
        log.close()
    return status, failed


def parse_arguments():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repo", required=True)
    ap.add_argument("--max", type=int, default=int(os.environ.get("MUTANTS_MAX", "200")),
                    help="run a fixed sample of this many mutants (first by SHA-1 of the id); "
                         "0 runs every mutant (default 200)")
    ap.add_argument("--timeout", type=int, default=30, help="seconds per test run (default 30)")
    ap.add_argument("--jobs", type=int, default=2,
                    help="compile jobs, and test shards run side by side (default 2)")
    ap.add_argument("--list", action="store_true", help="list the mutants and stop")
    ap.add_argument("--only", action="append", default=[],
                    help="run only mutants whose id contains this (may be repeated)")
    ap.add_argument("--work", default=None, help="scratch directory (default build/mutants)")
    ap.add_argument("--rev", default=None,
                    help="mutate the tree of this commit instead of the checkout's tracked files")
    return ap.parse_args()


def prepare_tree(a):
    """The scratch directory and its copy of the tree, brought up to date with the checkout."""
    work = os.path.abspath(a.work) if a.work else os.path.join(a.repo, "build", "mutants")
    tree = os.path.join(work, "tree")
    os.makedirs(tree, exist_ok=True)
    sync_tree(a.repo, tree, a.rev)
    # The game's objects are rebuilt at the start of every run, so that nothing a stopped run
    # left half-built can stand in for the code.
    for name in os.listdir(os.path.join(tree, "source")):
        os.utime(os.path.join(tree, "source", name))
    return work, tree


def load_equivalent(repo):
    """The ids of the mutants tests/mutants/equivalent.txt lists as equivalent."""
    equivalent = set()
    eq_path = os.path.join(repo, "tests", "mutants", "equivalent.txt")
    if os.path.exists(eq_path):
        for l in open(eq_path):
            l = l.rstrip("\n")
            if l and not l.startswith("#"):
                equivalent.add(l.split("\t")[0])
    return equivalent


def choose_mutants(allm, a):
    """The sample to run, in the order it runs."""
    chosen = sorted(allm, key=lambda m: hashlib.sha1(m["id"].encode()).hexdigest())
    if a.only:
        chosen = [m for m in chosen if any(o in m["id"] for o in a.only)]
    if a.max > 0:
        chosen = chosen[:a.max]
    # Run in sample order, a chunk at a time and each chunk in file order (fewer files to rebuild
    # between mutants): a run stopped at the end of a chunk has covered the first mutants of the
    # sample.
    return [m for start in range(0, len(chosen), CHUNK)
            for m in sorted(chosen[start:start + CHUNK], key=lambda m: (m["file"], m["line"], m["id"]))]


def list_mutants(chosen, total):
    for m in sorted(chosen, key=lambda m: (m["file"], m["line"], m["id"])):
        print(f'{m["file"]}:{m["line"]}\t{m["change"]}\t{m["id"]}')
    print(f"{len(chosen)} of {total} mutants", file=sys.stderr)


def scratch_environment():
    env = dict(os.environ)
    # No compiler cache for the scratch build: a cached object must never stand in for a mutant
    # (or a mutant's for the original), and mutants are built once anyway.
    env["CCACHE_DISABLE"] = "1"
    env["SDL_VIDEODRIVER"] = "dummy"
    env["SDL_AUDIODRIVER"] = "dummy"
    return env


class Scratch:
    """The scratch build of the unit tests and how to rebuild and run it."""

    def __init__(self, tree, a):
        self.tree, self.jobs, self.timeout = tree, a.jobs, a.timeout
        self.env = scratch_environment()
        self.bdir = os.path.join(tree, "build", "mutants")
        self.build = ["cmake", "--build", self.bdir, "--target", "vesperdeep_tests", "-j", str(a.jobs)]
        self.binary = os.path.join(self.bdir, "bin", "vesperdeep_tests")

    def rebuild(self):
        return run(self.build, self.tree, env=self.env)

    def check_unmutated(self):
        """Configures (the first time), builds and tests the unmutated tree; False after saying
        what failed."""
        if not os.path.exists(os.path.join(self.bdir, "CMakeCache.txt")):
            r = run(configure_command(self.tree, self.bdir), self.tree, env=self.env)
            if r.returncode:
                sys.stdout.write(r.stdout.decode()); return False
        self.started = time.time()  # the run time counts from the first build
        r = self.rebuild()
        if r.returncode:
            sys.stdout.write(r.stdout.decode()[-4000:]); print("the unmutated tree does not build"); return False
        if run_tests(self.binary, self.jobs, self.timeout * 5, self.env)[0] != "survived":
            print("the unmutated tests fail"); return False
        return True


def judge(m, scratch, equivalent, killers):
    """Builds and tests the tree with mutant `m` in place, then puts the file back.
    Returns (status, failed test names)."""
    path = os.path.join(scratch.tree, "source", m["file"])
    original = open(path).read()
    lines = original.split("\n")
    for i, new in m["edits"].items():
        lines[i] = new
    failed = []
    try:
        open(path, "w").write("\n".join(lines))
        if m["id"] in equivalent:
            return "equivalent", failed
        if scratch.rebuild().returncode:
            return "build-failure", failed
        status, failed = run_tests(scratch.binary, scratch.jobs, scratch.timeout, scratch.env,
                                   killers.get(m["file"], []))
        if failed:
            recent = [t for t in killers.get(m["file"], []) if t != failed[0]]
            killers[m["file"]] = [failed[0]] + recent[:7]
        return status, failed
    finally:
        open(path, "w").write(original)


def run_sample(chosen, total, scratch, equivalent, report):
    """Judges every chosen mutant, writing each result to `report` as it comes."""
    results = []
    killers = {}  # file -> the tests that killed its latest mutants, latest first
    with open(report, "w") as out:
        out.write(f"# mutants generated {total}, run {len(chosen)}\n")
        for n, m in enumerate(chosen, 1):
            t1 = time.time()
            status, failed = judge(m, scratch, equivalent, killers)
            line = f'{status}\t{m["file"]}:{m["line"]}\t{m["change"]}\t{m["id"]}'
            results.append((status, m, line + (f"\t{failed[0]}" if failed else "")))
            out.write(results[-1][2] + "\n"); out.flush()
            print(f"[{n}/{len(chosen)}] {time.time() - t1:4.1f}s {line}", flush=True)
        scratch.rebuild()  # leave the scratch build unmutated
    return results


def summarise(results, total, chosen, elapsed):
    count = {s: sum(1 for r, _, _ in results if r == s)
             for s in ("killed", "timeout", "survived", "build-failure", "equivalent")}
    dead = count["killed"] + count["timeout"]
    scored = dead + count["survived"]
    score = 100.0 * dead / scored if scored else 0.0
    load = open("/proc/loadavg").read().split()[:3]
    return (f"# generated {total}, run {len(chosen)}, equivalent {count['equivalent']}, "
            f"killed {count['killed']}, timeout {count['timeout']}, survived {count['survived']}, "
            f"build-failure {count['build-failure']}\n"
            f"# score {score:.1f} % (killed+timeout / non-equivalent that built)\n"
            f"# run time {elapsed / 60:.1f} min, load average at the end {' '.join(load)}\n")


def write_report(report, results, total, chosen, summary):
    with open(report, "w") as out:  # the finished report reads in file and line order
        out.write(f"# mutants generated {total}, run {len(chosen)}, in file and line order\n")
        for _, _, line in sorted(results, key=lambda r: (r[1]["file"], r[1]["line"], r[1]["id"])):
            out.write(line + "\n")
        out.write(summary)


def main():
    # a stopped run still restores the mutated file (the finally in judge)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    a = parse_arguments()
    work, tree = prepare_tree(a)
    equivalent = load_equivalent(a.repo)
    allm = generate(tree)
    total = len(allm)
    chosen = choose_mutants(allm, a)
    if a.list:
        list_mutants(chosen, total)
        return 0
    scratch = Scratch(tree, a)
    if not scratch.check_unmutated():
        return 1
    report = os.path.join(work, "report.txt")
    results = run_sample(chosen, total, scratch, equivalent, report)
    summary = summarise(results, total, chosen, time.time() - scratch.started)
    write_report(report, results, total, chosen, summary)
    print(summary, end="")
    print(f"report: {report}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
