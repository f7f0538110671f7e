#!/usr/bin/env python3
"""Checks that the files making up one process hold one copy of the program.

    one_copy_check.py FILE...

FILE... are the executable, the libraries and the modules one process loads.
Fails, naming each, when two of them define the same function of namespace
orx, or the same variable of it that the process can change: a layer linked
into both would run with state of its own in each (a library's settings made
through one copy, unseen by the other). Functions that one of the files
defines weak are inline or templates: their copies are alike by the one
definition rule, carry no state of their own and are let pass, as are
variables every file defines unique (the loader binds those once).
"""
import re
import subprocess
import sys

# objdump -t: value, seven flag characters, section, size, name (".hidden"
# before it when hidden).
SYMBOL = re.compile(r"^[0-9a-f]+ (.{7}) (\S+)\t[0-9a-f]+\s+(?:\.hidden\s+)?(.*)$")
WRITABLE = {".data", ".bss", ".tdata", ".tbss"}


def definitions(path):
    """{(kind, name): {binding, ...}} for the orx symbols path defines."""
    listing = subprocess.run(["objdump", "-t", "-C", path], check=True,
                             capture_output=True, text=True).stdout
    found = {}
    for line in listing.splitlines():
        match = SYMBOL.match(line)
        if not match:
            continue
        flags, section, name = match.groups()
        name = re.sub(r"( \[clone [^\]]*\])+$", "", name)  # parts of one function
        if not name.startswith("orx::"):
            continue
        if flags[6] == "F" and section.startswith(".text"):
            kind = "function"
        elif section in WRITABLE:
            kind = "variable"
        else:
            continue
        binding = "weak" if flags[1] == "w" else "unique" if flags[0] == "u" else "strong"
        found.setdefault((kind, name), set()).add(binding)
    return found


def main(paths):
    if len(paths) < 2:
        sys.exit(__doc__)
    holders = {}
    for path in paths:
        for key, bindings in definitions(path).items():
            holders.setdefault(key, []).append((path, bindings))
    twice = []
    for (kind, name), where in sorted(holders.items()):
        if len(where) < 2:
            continue
        bindings = set().union(*(b for _, b in where))
        if kind == "function" and "weak" in bindings:
            continue
        if kind == "variable" and bindings == {"unique"}:
            continue
        twice.append(f"{kind} {name}: " + ", ".join(path for path, _ in where))
    for line in twice:
        print(line)
    print(f"{len(twice)} definitions of namespace orx in more than one of: " + " ".join(paths))
    return 1 if twice else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
