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

Lines that cannot matter are skipped: blank lines, comments, preprocessor lines, asserts and
diagnostics (std::cerr, fprintf, perror), and lines whose only work is drawing fixed text
(a call whose arguments contain a string literal and no rule operator). Files that are not game
rules are skipped: main.cpp, FontSheet.cpp (font decoding, pinned by its own tests), App.cpp and
Display.cpp (window start-up), Keyboard.cpp (SDL key plumbing), Cp437.cpp (glyph tables).

A mutant's id is stable while code moves: file, the stripped line text, the operator and the
occurrence of that operator on that line (plus a counter for identical lines in one file).
When there are more mutants than --max, a deterministic sample is taken: mutants are ordered by
the SHA-1 of their id and the first --max are run.
"""
import argparse, hashlib, os, re, shutil, subprocess, sys, time

SKIP_FILES = {"main.cpp", "FontSheet.cpp", "App.cpp", "Display.cpp", "Keyboard.cpp", "Cp437.cpp"}
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
    # relational operators, excluding <<, >>, ->, template brackets (#include skipped already)
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
    occ = 0
    for m in code_positions(line, r"(?<![\w.])(\d+)(?![\w.])"):
        n = int(m.group(1))
        for d, tag in ((1, "+1"), (-1, "-1")):
            if n + d < 0:
                continue
            new = line[:m.start()] + str(n + d) + line[m.end():]
            out.append(("const" + tag, occ, new, f"{n} -> {n + d}"))
        occ += 1
    occ = 0
    for m in code_positions(line, r"(?<![\w\)\]])([A-Za-z_][\w.]*|\d+)\s-\s([A-Za-z_][\w.]*|\d+)(?![\w(\[.])"):
        new = line[:m.start()] + m.group(2) + " - " + m.group(1) + line[m.end():]
        out.append(("swap-sub", occ, new, f"{m.group(0)} -> {m.group(2)} - {m.group(1)}"))
        occ += 1
    occ = 0
    for m in code_positions(line, r"\b((?:std::)?(?:sign|min|max))\(([^(),]+),\s*([^(),]+)\)"):
        new = line[:m.start()] + f"{m.group(1)}({m.group(3).strip()}, {m.group(2).strip()})" + line[m.end():]
        out.append(("swap-args", occ, new, f"{m.group(0)} -> args swapped"))
        occ += 1
    occ = 0
    for m in code_positions(line, r"(&&|\|\|)"):
        other = "||" if m.group(1) == "&&" else "&&"
        new = line[:m.start()] + other + line[m.end():]
        out.append(("logic", occ, new, f"{m.group(1)} -> {other}"))
        occ += 1
    m = re.match(r"^(\s*(?:\}\s*else\s+)?(?:if|while)\s*)\((.*)\)(\s*\{?\s*)$", line)
    if m:
        out.append(("negate", 0, f"{m.group(1)}(!({m.group(2)})){m.group(3)}", "condition negated"))
    t = line.strip()
    if t.endswith(";") and not t.startswith(("return", "break", "continue", "case", "default")) \
            and "{" not in t and "}" not in t and not re.match(r"^(const\s+|static\s+|auto\s|int\s|bool\s|float\s|double\s|unsigned\s|std::|[A-Z]\w*(::\w+)*\s*[&*]?\s+\w+\s*[=({;])", t):
        if CALL_STMT.match(t) or ASSIGN_STMT.match(t) or INCR_STMT.match(t):
            indent = line[:len(line) - len(line.lstrip())]
            out.append(("delete", 0, indent + ";", "statement deleted"))
    return out


def is_call_stmt(t):
    t = t.strip()
    return bool(CALL_STMT.match(t)) and not t.startswith(("return", "if", "while", "for")) and "=" not in strip_strings(t).replace("==", "")


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
            if skippable(line):
                continue
            key = (name, s)
            dup = seen.get(key, 0)
            seen[key] = dup + 1
            for op, occ, new, change in mutate_line(line):
                mid = f"{name}|{s}|{op}|{occ}|{dup}"
                mutants.append(dict(id=mid, file=name, line=i + 1, change=change,
                                    edits={i: new}))
            if i + 1 < len(lines) and is_call_stmt(line) and is_call_stmt(lines[i + 1]) \
                    and not skippable(lines[i + 1]) and line.strip() != lines[i + 1].strip():
                mid = f"{name}|{s}|order|0|{dup}"
                mutants.append(dict(id=mid, file=name, line=i + 1, change="swapped with next call",
                                    edits={i: lines[i + 1], i + 1: line}))
    return mutants


def run(cmd, cwd, timeout=None, env=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=timeout, env=env)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repo", required=True)
    ap.add_argument("--max", type=int, default=int(os.environ.get("MUTANTS_MAX", "220")))
    ap.add_argument("--timeout", type=int, default=60, help="seconds per test run")
    ap.add_argument("--list", action="store_true", help="list the mutants and stop")
    ap.add_argument("--only", default=None, help="run only mutants whose id contains this")
    ap.add_argument("--work", default=None)
    a = ap.parse_args()

    work = a.work or os.path.join(a.repo, "build", "mutants")
    tree = os.path.join(work, "tree")
    os.makedirs(tree, exist_ok=True)
    files = run(["git", "ls-files", "-z"], a.repo).stdout.decode().split("\0")
    for f in filter(None, files):
        dst = os.path.join(tree, f)
        srcf = os.path.join(a.repo, f)
        if not os.path.isfile(srcf):
            continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        if not os.path.exists(dst) or open(srcf, "rb").read() != open(dst, "rb").read():
            shutil.copy2(srcf, dst)

    equivalent = set()
    eq_path = os.path.join(a.repo, "tests", "mutants", "equivalent.txt")
    if os.path.exists(eq_path):
        for l in open(eq_path):
            l = l.rstrip("\n")
            if l and not l.startswith("#"):
                equivalent.add(l.split("\t")[0])

    allm = generate(tree)
    total = len(allm)
    chosen = sorted(allm, key=lambda m: hashlib.sha1(m["id"].encode()).hexdigest())
    if a.only:
        chosen = [m for m in chosen if a.only in m["id"]]
    chosen = chosen[:a.max]
    chosen.sort(key=lambda m: (m["file"], m["line"], m["id"]))
    if a.list:
        for m in chosen:
            print(f'{m["file"]}:{m["line"]}\t{m["change"]}\t{m["id"]}')
        print(f"{len(chosen)} of {total} mutants", file=sys.stderr)
        return 0

    env = dict(os.environ)
    env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
    env.setdefault("CCACHE_BASEDIR", os.path.dirname(a.repo))
    env["SDL_VIDEODRIVER"] = "dummy"
    bdir = os.path.join(tree, "build", "release")
    build = ["cmake", "--build", bdir, "--target", "vesperdeep_tests", "-j", "2"]
    if not os.path.exists(os.path.join(bdir, "CMakeCache.txt")):
        r = run(["cmake", "--preset", "release"], tree, env=env)
        if r.returncode:
            sys.stdout.write(r.stdout.decode()); return 1
    t0 = time.time()
    r = run(build, tree, env=env)
    if r.returncode:
        sys.stdout.write(r.stdout.decode()[-4000:]); print("the unmutated tree does not build"); return 1
    binary = os.path.join(bdir, "bin", "vesperdeep_tests")
    test = [binary, "--gtest_brief=1", "--gtest_fail_fast"]
    r = run(test, os.path.dirname(binary), timeout=a.timeout * 5, env=env)
    if r.returncode:
        sys.stdout.write(r.stdout.decode()[-4000:]); print("the unmutated tests fail"); return 1

    report = os.path.join(work, "report.txt")
    results = []
    with open(report, "w") as out:
        out.write(f"# mutants generated {total}, run {len(chosen)}\n")
        for n, m in enumerate(chosen, 1):
            path = os.path.join(tree, "source", m["file"])
            original = open(path).read()
            lines = original.split("\n")
            for i, new in m["edits"].items():
                lines[i] = new
            try:
                open(path, "w").write("\n".join(lines))
                if m["id"] in equivalent:
                    status = "equivalent"
                else:
                    b = run(build, tree, env=env)
                    if b.returncode:
                        status = "build-failure"
                    else:
                        try:
                            t = run(test, os.path.dirname(binary), timeout=a.timeout, env=env)
                            status = "survived" if t.returncode == 0 else "killed"
                        except subprocess.TimeoutExpired:
                            status = "timeout"
            finally:
                open(path, "w").write(original)
            results.append((status, m))
            line = f'{status}\t{m["file"]}:{m["line"]}\t{m["change"]}\t{m["id"]}'
            out.write(line + "\n"); out.flush()
            print(f"[{n}/{len(chosen)}] {line}", flush=True)
        run(build, tree, env=env)  # leave the scratch build unmutated
        count = {s: sum(1 for r, _ in results if r == s)
                 for s in ("killed", "timeout", "survived", "build-failure", "equivalent")}
        dead = count["killed"] + count["timeout"]
        scored = dead + count["survived"]
        score = 100.0 * dead / scored if scored else 0.0
        elapsed = time.time() - t0
        load = open("/proc/loadavg").read().split()[:3]
        summary = (f"# generated {total}, run {len(chosen)}, equivalent {count['equivalent']}, "
                   f"killed {count['killed']}, timeout {count['timeout']}, survived {count['survived']}, "
                   f"build-failure {count['build-failure']}\n"
                   f"# score {score:.1f} % (killed+timeout / non-equivalent that built)\n"
                   f"# run time {elapsed / 60:.1f} min, load average at the end {' '.join(load)}\n")
        out.write(summary)
    print(summary, end="")
    print(f"report: {report}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
