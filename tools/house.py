#!/usr/bin/env python3
"""House rules of the source tree, checked; exits 1 on any breach, naming each.

    tools/house.py [--root DIR] [--build DIR]

- lengths: no file under src/, include/ or tests/ over 350 lines (ALLOWED_LONG lists
  the exceptions, each with its reason);
- functions: no function body in src/ or include/ over 80 lines, found by matching
  braces in the code with its comments and literals blanked;
- layers: each folder of src/ (and include/) has a rank, LAYERS below; a file includes
  headers of its own folder or of lower ranks only, and the include graph has no cycle;
- symbols (with --build): from the object files of a build tree, the graph "source A
  uses a symbol that source B defines" has no cycle.
"""
import argparse
import os
import re
import subprocess
import sys

MAX_FILE_LINES = 350
MAX_FUNCTION_LINES = 80
LENGTH_ROOTS = ("src/", "include/", "tests/")
FUNCTION_ROOTS = ("src/", "include/")
SOURCE_EXTENSIONS = (".cpp", ".h", ".hpp", ".c")

# Files allowed over MAX_FILE_LINES, each with its reason.
ALLOWED_LONG = {}

# Functions allowed over MAX_FUNCTION_LINES, by file and a part of their signature, each
# with its reason.
ALLOWED_LONG_FUNCTIONS = {}

# Layer of each unit, lowest first; a longer prefix wins. A unit may include its own
# unit's headers and those of lower ranks; units of one rank know nothing of each other.
LAYERS = {
    "src/io/": 0,  # statuses, hooks, opening inputs, safe outputs: no codec, no format
    "src/codec/": 1,  # the ADPCM codec: no I/O
    "src/adpFile": 2,  # the device file's header
    "src/wave/": 2,  # WAVE headers
    "include/kestrune/": 3,  # the public interface
    "src/device/": 4,  # the device file on streams, through the public interface
    "src/audio/": 4,  # audio input of any format
    "src/legacy/": 4,  # the legacy pair's shared run and texts
    "src/api/": 5,  # the library behind the public interface, over audio and io
    "src/python/": 6,  # the Python module, over the public interface
    "src/tool/": 6,  # kestrune-adpcm
    "src/sample": 6,  # the legacy pair's entry points
}


def unit_of(path):
    best = None
    for prefix in LAYERS:
        if path.startswith(prefix) and (best is None or len(prefix) > len(best)):
            best = prefix
    return best


def tracked(root):
    """The tree's files: git's list, or in a copy without git, those under the checked roots."""
    out = subprocess.run(["git", "-C", root, "ls-files"], capture_output=True, text=True)
    if out.returncode == 0 and out.stdout:
        return [p for p in out.stdout.splitlines() if os.path.isfile(os.path.join(root, p))]
    files = []
    for top in LENGTH_ROOTS:
        for folder, _, names in os.walk(os.path.join(root, top)):
            files += [os.path.relpath(os.path.join(folder, n), root) for n in names]
    return sorted(files)


def read(root, path):
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
        return f.read()


def check_lengths(root, files):
    problems = []
    for path in files:
        if not path.startswith(LENGTH_ROOTS) or path in ALLOWED_LONG:
            continue
        lines = read(root, path).count("\n")
        if lines > MAX_FILE_LINES:
            problems.append(f"{path}: {lines} lines, over {MAX_FILE_LINES}")
    return problems


LITERAL = re.compile(r'//[^\n]*|/\*.*?\*/|R"([^(\s]*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|'
                     r"'(?:\\.|[^'\\\n])+'", re.S)


def blank(code):
    """The code with comments and string and character literals blanked, lines kept."""
    return LITERAL.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), code)


CONTAINER = re.compile(r"^(?:template\s*<.*>\s*)?(?:namespace|class|struct|union|extern)\b", re.S)


def classify(header):
    """What a '{' opens, from the text before it: a container, a function or other."""
    header = re.sub(r"#[^\n]*", "", header).strip()
    if CONTAINER.match(header):
        return "container"
    if "(" in header and header.count("(") == header.count(")") and not header.startswith("enum"):
        return "function"
    return "other"


def functions(code):
    """(first line, line count, header) of each outermost function body in code."""
    code = blank(code)
    found = []
    stack = []  # (kind, line of its '{', header)
    header_start = 0
    for i, ch in enumerate(code):
        if ch == ";":
            if not stack or stack[-1][0] == "container":
                header_start = i + 1
        elif ch == "{":
            in_function = any(kind == "function" for kind, _, _ in stack)
            outer = not stack or stack[-1][0] == "container"
            header = code[header_start:i]
            kind = classify(header) if outer and not in_function else "other"
            stack.append((kind, code.count("\n", 0, i) + 1, " ".join(header.split())))
            if kind != "other":
                header_start = i + 1
        elif ch == "}" and stack:
            kind, first, header = stack.pop()
            if kind == "function":
                last = code.count("\n", 0, i) + 1
                found.append((first, last - first + 1, header))
            if kind != "other":
                header_start = i + 1
    return found


def check_functions(root, files):
    problems = []
    for path in files:
        if not path.startswith(FUNCTION_ROOTS) or not path.endswith(SOURCE_EXTENSIONS):
            continue
        for first, count, header in functions(read(root, path)):
            allowed = any(path == p and part in header for p, part in ALLOWED_LONG_FUNCTIONS)
            if count > MAX_FUNCTION_LINES and not allowed:
                named = re.search(r"([~\w:]+)\s*\(", header)
                problems.append(f"{path}:{first}: {named.group(1) if named else header[-60:]}"
                                f"(...) is {count} lines, over {MAX_FUNCTION_LINES}")
    return problems


INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def resolve(files, path, name):
    """The tracked file an #include "name" in path names, or None."""
    for candidate in (os.path.join(os.path.dirname(path), name), "src/" + name, "include/" + name):
        candidate = os.path.normpath(candidate)
        if candidate in files:
            return candidate
    return None


def include_graph(root, files):
    graph = {}
    tracked_set = set(files)
    for path in files:
        if path.startswith(("src/", "include/")) and path.endswith(SOURCE_EXTENSIONS):
            names = INCLUDE.findall(read(root, path))
            graph[path] = sorted({t for t in (resolve(tracked_set, path, n) for n in names) if t})
    return graph


def check_layers(graph):
    problems = []
    for path, targets in sorted(graph.items()):
        unit = unit_of(path)
        if unit is None:
            problems.append(f"{path}: in no layer; give its folder a rank in LAYERS")
            continue
        for target in targets:
            other = unit_of(target)
            if other is None or other == unit:
                continue
            if LAYERS[other] >= LAYERS[unit]:
                problems.append(f"{path} (rank {LAYERS[unit]}) includes {target} (rank "
                                f"{LAYERS[other]}), not a lower layer")
    return problems


def cycles(graph):
    """Each strongly connected set of more than one node (or a node on itself), sorted."""
    index, low, on, stack, found = {}, {}, set(), [], []

    def visit(node):
        work = [(node, iter(graph.get(node, ())))]
        index[node] = low[node] = len(index)
        stack.append(node)
        on.add(node)
        while work:
            current, edges = work[-1]
            advanced = False
            for nxt in edges:
                if nxt not in index:
                    index[nxt] = low[nxt] = len(index)
                    stack.append(nxt)
                    on.add(nxt)
                    work.append((nxt, iter(graph.get(nxt, ()))))
                    advanced = True
                    break
                if nxt in on:
                    low[current] = min(low[current], index[nxt])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[current])
            if low[current] == index[current]:
                group = []
                while True:
                    member = stack.pop()
                    on.discard(member)
                    group.append(member)
                    if member == current:
                        break
                if len(group) > 1 or current in graph.get(current, ()):
                    found.append(sorted(group))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return sorted(found)


def check_include_cycles(graph):
    return [f"include cycle among: {' '.join(group)}" for group in cycles(graph)]


def object_sources(build):
    """{source path relative to the tree: [object files]} for the objects under build."""
    sources = {}
    for folder, _, names in os.walk(build):
        for name in names:
            if not name.endswith(".o") or ".dir/" not in folder + "/":
                continue
            relative = os.path.join(folder.split(".dir/", 1)[1] if ".dir/" in folder else "", name)
            source = relative[:-2]
            if source.startswith(("src/", "tests/support/")):
                sources.setdefault(source, []).append(os.path.join(folder, name))
    return sources


def symbols(obj, which):
    out = subprocess.run(["nm", "--format=posix", which, obj], capture_output=True, text=True, check=True)
    result = set()
    for line in out.stdout.splitlines():
        parts = line.split()
        # Weak symbols (inline functions, templates) belong to no one file, and local ones
        # (lower case) are no other file's to use.
        if len(parts) >= 2 and parts[1].isupper() and parts[1] not in ("W", "V"):
            result.add(parts[0])
    return result


def symbol_graph(build):
    defined, used = {}, {}
    for source, objects in object_sources(build).items():
        defined[source] = set().union(*(symbols(o, "--defined-only") for o in objects))
        used[source] = set().union(*(symbols(o, "--undefined-only") for o in objects))
    owner = {}
    for source, names in defined.items():
        for name in names:
            owner.setdefault(name, set()).add(source)
    graph, why = {}, {}
    for source, names in used.items():
        for name in names:
            for target in owner.get(name, ()):
                if target != source:
                    graph.setdefault(source, set()).add(target)
                    why.setdefault((source, target), name)
    return {k: sorted(v) for k, v in graph.items()}, why


def demangle(name):
    out = subprocess.run(["c++filt", name], capture_output=True, text=True)
    return out.stdout.strip() or name


def check_symbol_cycles(build):
    if not os.path.isdir(build):
        return [f"{build}: no build tree to read the objects of"]
    graph, why = symbol_graph(build)
    problems = []
    for group in cycles(graph):
        members = set(group)
        edges = [f"{a} uses {demangle(why[(a, b)])} of {b}" for a in group for b in graph.get(a, ())
                 if b in members]
        problems.append("symbol cycle among: " + " ".join(group) + "\n    " + "\n    ".join(edges))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    parser.add_argument("--build", help="a build tree whose object files to read")
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    files = tracked(root)
    graph = include_graph(root, files)
    checks = [("lengths", lambda: check_lengths(root, files)),
              ("functions", lambda: check_functions(root, files)),
              ("layers", lambda: check_layers(graph)),
              ("include cycles", lambda: check_include_cycles(graph))]
    if args.build:
        checks.append(("symbol cycles", lambda: check_symbol_cycles(os.path.abspath(args.build))))
    failed = False
    for name, check in checks:
        problems = check()
        print(f"{name}: {'ok' if not problems else str(len(problems)) + ' problem(s)'}")
        for problem in problems:
            print("  " + problem)
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
