#!/usr/bin/env python3
"""Checks the layers' include rules (the build's link lines keep the rest):

  core/       its own headers and the C++ standard library only; no Windows
              header and no _WIN32 anywhere in it
  adapters/   core/ and its own
  framework/  core/, adapters/ and its own
  windows/X/  core/, adapters/, framework/, res/, its own folder, common/
              and the windows X opens (windows/CMakeLists.txt, OPENS)
  program/    anything of the product

Prints every violation as file:line and exits 1 when there is one.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
# Angle headers a core file may use: the C++ standard library's.
STD = set("""algorithm any array atomic bitset cassert cctype cerrno cfloat charconv chrono
cinttypes climits clocale cmath codecvt complex condition_variable csignal cstdarg cstddef
cstdint cstdio cstdlib cstring ctime cwchar cwctype deque exception filesystem forward_list
fstream functional future initializer_list iomanip ios iosfwd iostream istream iterator
limits list locale map memory mutex new numeric optional ostream queue random ratio regex
scoped_allocator set shared_mutex sstream stack stdexcept streambuf string string_view
system_error thread tuple type_traits typeindex typeinfo unordered_map unordered_set utility
valarray variant vector""".split())


def window_opens():
    """name -> the windows it may include, from windows/CMakeLists.txt."""
    text = open(os.path.join(ROOT, "windows", "CMakeLists.txt")).read()
    opens = {}
    for m in re.finditer(r"quib_window\((\w+)([^)]*)\)", text):
        args = m.group(2).split()
        names = args[args.index("OPENS") + 1:] if "OPENS" in args else []
        opens[m.group(1)] = set(names)
    return opens


def allowed(path, target, opens):
    """True when the file at path (relative) may include the quoted target."""
    layer = path.split("/")[0]
    top = target.split("/")[0]
    if layer == "core":
        return top == "core"
    if layer == "adapters":
        return top in ("core", "adapters")
    if layer == "framework":
        return top in ("core", "adapters", "framework")
    if layer == "windows":
        own = path.split("/")[1]
        if top in ("core", "adapters", "framework", "res") or target == "quib_version.h":
            return True
        if top == "windows":
            other = target.split("/")[1]
            return other in (own, "common") or other in opens.get(own, set())
        return False
    if layer == "program":
        return top in ("core", "adapters", "framework", "windows", "program", "res") or \
            target == "quib_version.h"
    return True


def main():
    opens = window_opens()
    problems = []
    for layer in ("core", "adapters", "framework", "windows", "program"):
        for folder, _, files in os.walk(os.path.join(ROOT, layer)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                full = os.path.join(folder, name)
                rel = os.path.relpath(full, ROOT).replace(os.sep, "/")
                for number, line in enumerate(open(full, encoding="utf-8", errors="replace"), 1):
                    if layer == "core" and "_WIN32" in line:
                        problems.append(f"{rel}:{number}: _WIN32 in the portable core")
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    kind, target = m.groups()
                    if kind == "<":
                        if layer == "core" and target not in STD:
                            problems.append(f"{rel}:{number}: <{target}> in the portable core")
                    elif not allowed(rel, target, opens):
                        problems.append(f"{rel}:{number}: includes \"{target}\" of a higher "
                                        "or unrelated layer")
    for p in problems:
        print(p)
    if problems:
        print(f"check-layers: {len(problems)} include(s) break the layers", file=sys.stderr)
        return 1
    print("check-layers: every include follows the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
