#!/usr/bin/env python3
"""A seeded mutation sample: how many planted faults do the test suites catch?

Usage: scripts/mutants.py [--folders F...] [--count N] [--seed S] [--replay FILE] [--out FILE]
                          [--every-suite] [--list]

Picks N places (default 100, seed 1) in the Linux sources of the chosen folders (default the
product's: plugin/ engine/ config/ util/ host/ platform/), plants one fault at each in turn (a
comparison flipped, a constant moved by one, a condition negated, && and || swapped, a call's
result ignored, a statement removed), rebuilds what the suites need in build/mutants and runs
them with a time limit. A mutant is killed when a suite fails, survived when all pass, timed out
when a suite runs past its limit, and invalid when it does not build (not counted, nor is
"gone"). Prints one line per mutant and the totals, and writes them as JSON (--out, default
mutants.json) so that two runs can be compared mutant by mutant; each mutant notes the suites
that failed ("by") and the failing tests of a GoogleTest suite ("tests").

Which suites judge a mutant depends on where it is planted, cheapest first:
- the product's folders: unit_tests and module_tests (as always, so earlier runs replay alike);
- reference/zef (the reference engine, also --folders reference/zef): zef_tests (the store and
  the engine in-process, and the crash test), module_tests (the plug-in driving Zef), unit_tests
  (the host's parts link the store), then the end-to-end scripts pellumhost_e2e.sh and
  pellumhost_commands_e2e.sh (Pellumhost with the plug-in and Zef, run by run);
- reference/pellumhost, reference/morrick, reference/quastle: unit_tests, module_tests (it loads
  Morrick and Quastle), then pellumhost_e2e.sh, pellumhost_commands_e2e.sh and
  pellumhost_security_e2e.sh.
The scenario suite (six minutes a run) judges no mutant: what it alone would catch is left out.
A mutant stops at the first suite that fails, unless --every-suite runs them all (slower; it
shows which suites catch the same faults).

--replay FILE plants the mutants of an earlier run's JSON again, each found by its file and
its original line (the nearest to its old line number), so that a suite can be judged before and
after a change on the same faults; a mutant whose line is gone is reported as such.

The sources are edited in place and put back after each mutant (also on Ctrl+C): run it in a
clean work tree of its own (git worktree add), not in one you are editing. --list prints the
sample and changes nothing.
"""
import argparse
import json
import os
import random
import re
import subprocess
import sys
import time

FOLDERS = ["plugin", "engine", "config", "util", "host", "platform"]
BUILD = "build/mutants"
BUILD_SECONDS = 900
# A suite: a GoogleTest program of the build, or an end-to-end script of tests/e2e (given the
# build's Pellumhost); each with its time limit in seconds.
PRODUCT_SUITES = [("unit_tests", 180), ("module_tests", 300)]
E2E = [("pellumhost_e2e.sh", 300), ("pellumhost_commands_e2e.sh", 600)]
ENGINE_SUITES = [("zef_tests", 300), ("module_tests", 300), ("unit_tests", 180)] + E2E
HOST_SUITES = PRODUCT_SUITES + E2E + [("pellumhost_security_e2e.sh", 300)]
# What the end-to-end scripts run, beside the host.
E2E_TARGETS = ["Pellumhost", "PlugEngineZef", "Zef", "DemoRogue"]

COMPARISONS = {" == ": " != ", " != ": " == ", " < ": " >= ", " > ": " <= ",
               " <= ": " > ", " >= ": " < "}
DECLARED = r"(?:const\s+)?(?:auto|bool|int|int32_t|uint32_t|uint64_t|size_t|HRESULT)"
IGNORED_RESULT = re.compile(r"^(\s*)(" + DECLARED + r")\s+(\w+)\s*=\s*([A-Za-z_][\w:.>\-]*\(.*\));\s*$")
STATEMENT = re.compile(r"^(\s*)[A-Za-z_][\w:.\->\[\]]*\s*(?:\(|=[^=]|\+=|-=|\|=|&=|\+\+|--).*;\s*$")
NUMBER = re.compile(r"(?<![\w.'])(\d+)(?![\w.'x])")
SKIP_LINE = re.compile(r"^\s*(#|//|\*|/\*|static_assert|namespace|using |template|extern )")


def strip_strings(line):
    """The line with string and character literals blanked, so no mutation lands in them."""
    return re.sub(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'', lambda m: "_" * len(m.group()), line)


def suites_for(path):
    """The suites that judge a mutant of path, cheapest first."""
    if not path.startswith("reference/"):
        return PRODUCT_SUITES
    return ENGINE_SUITES if path.startswith("reference/zef/") else HOST_SUITES


def sources(root, folders):
    found = []
    for folder in folders:
        for base, dirs, names in os.walk(os.path.join(root, folder)):
            dirs[:] = sorted(d for d in dirs if d != "win32")
            found += [os.path.relpath(os.path.join(base, n), root) for n in sorted(names)
                      if n.endswith(".cpp")]
    return sorted(found)


def sites(root, folders):
    """Every (file, line number, kind, original line, mutated line) the operators allow."""
    out = []
    for path in sources(root, folders):
        with open(os.path.join(root, path), encoding="utf-8") as f:
            lines = f.read().split("\n")
        for number, line in enumerate(lines, 1):
            if SKIP_LINE.match(line) or not line.strip():
                continue
            code = strip_strings(line.split("//")[0])
            for old, new in COMPARISONS.items():
                at = code.find(old)
                if at >= 0:
                    out.append((path, number, "comparison", line, line[:at] + new + line[at + len(old):]))
            for m in NUMBER.finditer(code):
                value = int(m.group(1))
                out.append((path, number, "constant", line,
                            line[:m.start(1)] + str(value + 1) + line[m.end(1):]))
                break  # one constant per line is enough
            m = re.search(r"\bif \(", code)
            if m:
                depth, end = 0, None
                for i in range(m.end() - 1, len(code)):
                    depth += {"(": 1, ")": -1}.get(code[i], 0)
                    if depth == 0:
                        end = i
                        break
                if end is not None:
                    out.append((path, number, "negation", line,
                                line[:m.end()] + "!(" + line[m.end():end] + ")" + line[end:]))
            for old, new in ((" && ", " || "), (" || ", " && ")):
                at = code.find(old)
                if at >= 0:
                    out.append((path, number, "logic", line, line[:at] + new + line[at + len(old):]))
            m = IGNORED_RESULT.match(line)
            if m:
                indent, kind, name, call = m.groups()
                out.append((path, number, "ignored result", line,
                            "%s%s; %s %s = {};" % (indent, call, kind, name)))
            elif STATEMENT.match(code) and not re.match(r"\s*(return|case|else|for|while|switch|do)\b", code):
                out.append((path, number, "removal", line, STATEMENT.match(code).group(1) + ";"))
    return out


def replayed(root, earlier):
    """The mutants of an earlier run, each at the line that now holds its original text (the
    nearest to where it was); number None when no line does."""
    with open(earlier) as f:
        mutants = json.load(f)["mutants"]
    out = []
    for m in mutants:
        number, old, new = None, m["original"], m["mutant"]
        try:
            with open(os.path.join(root, m["file"]), encoding="utf-8") as f:
                lines = f.read().split("\n")
            matches = [i + 1 for i, line in enumerate(lines) if line.strip() == old]
            if matches:
                number = min(matches, key=lambda n: abs(n - m["line"]))
                indent = lines[number - 1][:len(lines[number - 1]) - len(lines[number - 1].lstrip())]
                old, new = lines[number - 1], indent + m["mutant"]
        except OSError:
            pass
        out.append((m["file"], number, m["kind"], old, new))
    return out


def run(command, seconds):
    """('ok', 'failed' or 'timeout', what the command printed)."""
    try:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=seconds)
        text = done.stdout.decode("utf-8", "replace")
        return ("ok" if done.returncode == 0 else "failed"), text
    except subprocess.TimeoutExpired:
        return "timeout", ""


def build(root, suites):
    targets = {name for name, _ in suites if not name.endswith(".sh")}
    if any(name.endswith(".sh") for name, _ in suites):
        targets.update(E2E_TARGETS)
    return run(["cmake", "--build", os.path.join(root, BUILD), "-j", str(os.cpu_count() or 2),
                "--target"] + sorted(targets), BUILD_SECONDS)[0]


def run_suite(root, name, seconds):
    bin_folder = os.path.join(root, BUILD, "bin")
    if name.endswith(".sh"):
        return run([os.path.join(root, "tests", "e2e", name), os.path.join(bin_folder, "Pellumhost")],
                   seconds)
    return run([os.path.join(bin_folder, name), "--gtest_brief=1"], seconds)


def judge(root, suites, every):
    """The outcome, the suites that failed and the GoogleTest tests that failed."""
    if build(root, suites) != "ok":
        return "invalid", [], []
    outcome, by, tests = "survived", [], []
    for name, seconds in suites:
        result, text = run_suite(root, name, seconds)
        if result == "ok":
            continue
        by.append(name)
        tests += sorted({t for t in re.findall(r"^\[  FAILED  \] (\S+\.\S+)", text, re.M)})
        if outcome == "survived":
            outcome = "killed" if result == "failed" else "timed out"
        if not every:
            break
    return outcome, by, tests


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--folders", nargs="+", default=FOLDERS)
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", default="mutants.json")
    parser.add_argument("--replay")
    parser.add_argument("--every-suite", action="store_true")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

    if args.replay:
        chosen = replayed(root, args.replay)
        print("%d mutants of %s replayed" % (len(chosen), args.replay))
    else:
        everything = sites(root, [f.rstrip("/") for f in args.folders])
        chosen = random.Random(args.seed).sample(everything, min(args.count, len(everything)))
        chosen.sort(key=lambda s: (s[0], s[1], s[2]))
        print("%d places found in %s; %d chosen (seed %d)" % (len(everything), " ".join(args.folders),
                                                            len(chosen), args.seed))
    if args.list:
        for path, number, kind, old, new in chosen:
            print("%s:%d %s\n  - %s\n  + %s" % (path, number, kind, old.strip(), new.strip()))
        return 0

    subprocess.run(["cmake", "--preset", "linux", "-B", os.path.join(root, BUILD),
                    "-DCMAKE_BUILD_TYPE=Debug", "-DPEZ_BUILD_BENCH=OFF"], cwd=root, check=True,
                   stdout=subprocess.DEVNULL)
    # Every suite any chosen mutant needs, in the order they come.
    needed = []
    for path, *_ in chosen:
        needed += [suite for suite in suites_for(path) if suite not in needed]
    if judge(root, needed, True)[0] != "survived":
        print("mutants: the unmutated tree does not build or pass its suites", file=sys.stderr)
        return 1
    results = []
    started = time.monotonic()
    for index, (path, number, kind, old, new) in enumerate(chosen, 1):
        if number is None:
            results.append({"file": path, "line": 0, "kind": kind, "original": old.strip(),
                            "mutant": new.strip(), "outcome": "gone"})
            print("%3d %-10s %s: %s (its line is gone)" % (index, "gone", path, kind), flush=True)
            continue
        full = os.path.join(root, path)
        with open(full, encoding="utf-8") as f:
            original = f.read()
        lines = original.split("\n")
        assert lines[number - 1] == old
        lines[number - 1] = new
        try:
            with open(full, "w", encoding="utf-8") as f:
                f.write("\n".join(lines))
            outcome, by, tests = judge(root, suites_for(path), args.every_suite)
        finally:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original)
        results.append({"file": path, "line": number, "kind": kind, "original": old.strip(),
                        "mutant": new.strip(), "outcome": outcome, "by": by, "tests": tests})
        print("%3d %-10s %s:%d %s: %s%s" % (index, outcome, path, number, kind, new.strip(),
                                            " (" + " ".join(by + tests) + ")" if by else ""),
              flush=True)
    build(root, needed)  # leaves the build as the sources are

    counted = [r for r in results if r["outcome"] not in ("invalid", "gone")]
    totals = {k: sum(r["outcome"] == k for r in results)
              for k in ("killed", "survived", "timed out", "invalid", "gone")}
    share = 100.0 * totals["killed"] / len(counted) if counted else 0.0
    summary = dict(totals, counted=len(counted), killedShare=round(share, 1), seed=args.seed,
                   seconds=round(time.monotonic() - started))
    with open(args.out, "w") as f:
        json.dump({"summary": summary, "mutants": results}, f, indent=1)
    print("killed %d, survived %d, timed out %d, invalid %d, gone %d: %.1f%% of %d killed (%s)" % (
        totals["killed"], totals["survived"], totals["timed out"], totals["invalid"],
        totals["gone"], share, len(counted), args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
