#!/usr/bin/env python3
"""Checks that every file, folder and name CONTRIBUTING.md gives exists, and that a name said to
be "in" a file is in that file. Prints one line per wrong fact and exits 1; 0 when all hold.

    tests/docs/check_contributing.py [REPO_ROOT]
"""
import glob
import os
import re
import sys

# Where the names of the game, the harness and the tools are looked for.
CODE_DIRS = ["source", "harness", "tools", "bench", "terminal", "tests", "scripts", "cmake"]
CODE_FILES = ("CMakeLists.txt", "CMakePresets.json")
NAME = r"[A-Za-z_][A-Za-z0-9_:]*"


def code_text(root):
    """All the code's text, one string, for looking names up."""
    parts = []
    for top in CODE_DIRS:
        for path in glob.glob(os.path.join(root, top, "**", "*"), recursive=True):
            if os.path.isfile(path) and "/golden/" not in path:
                with open(path, encoding="utf-8", errors="replace") as f:
                    parts.append(f.read())
    for name in CODE_FILES:
        with open(os.path.join(root, name), encoding="utf-8") as f:
            parts.append(f.read())
    return "\n".join(parts)


def matches(root, path):
    """The files a path of CONTRIBUTING names ("source/Display.*" names several)."""
    return glob.glob(os.path.join(root, path.rstrip("/")))


def check_path(root, token):
    """A path (with '/') or a file name at the top: it must exist. NN-name stands for any name."""
    if "NN" in token:
        token = os.path.dirname(token)
    if token.startswith("*."):
        return None
    found = matches(root, token) or matches(root, token + ".*")  # a module: its .hpp and .cpp
    return None if found else "no such file or folder: " + token


def check_name(code, token):
    """A name of the code: `Game::perform`, `harness::press`, `kBands`, `characterKey('g')`."""
    name = re.match(NAME, token).group(0)
    parts = name.split("::")
    if parts[0] == "harness":
        name = parts[-1]
    elif len(parts) > 1 and code.find(name) < 0:
        return "no such name in the code: " + token
    if not re.search(r"\b" + re.escape(parts[-1]) + r"\b", code):
        return "no such name in the code: " + token
    return None


def check_token(root, code, token):
    if " " in token or token.startswith(("-", ".", "<", "#")):
        return None  # a command, an option, an extension, a key or a script line
    if "/" in token or re.fullmatch(r"[A-Za-z]+\.(txt|json|md)", token):
        return check_path(root, token)
    if re.match(NAME, token):
        return check_name(code, token.replace("golden.NN-name", "golden."))
    return None


def check_homes(root, text):
    """'`name` in `path`': the name must be in that file."""
    problems = []
    for name, path in re.findall(r"`(" + NAME + r")`\s+in\s+`([^`]+)`", text):
        files = matches(root, path)
        found = False
        for file in files:
            if os.path.isfile(file):
                with open(file, encoding="utf-8") as f:
                    found = found or re.search(r"\b" + re.escape(name.split("::")[-1]) + r"\b", f.read())
        if files and not found:
            problems.append("%s is not in %s" % (name, path))
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    with open(os.path.join(root, "CONTRIBUTING.md"), encoding="utf-8") as f:
        text = f.read()
    code = code_text(root)
    problems = [p for p in (check_token(root, code, t) for t in re.findall(r"`([^`]+)`", text)) if p]
    problems += check_homes(root, re.sub(r"\s+", " ", text))
    for problem in problems:
        print("CONTRIBUTING.md: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
