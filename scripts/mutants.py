#!/usr/bin/env python3
"""A seeded mutation sample: how many planted faults do the unit and module suites catch?

Usage: scripts/mutants.py [--count N] [--seed S] [--replay FILE] [--out FILE] [--list]

Picks N places (default 100, seed 1) in the product's folders (plugin/ engine/ config/ util/
host/ platform/, the Linux sources), plants one fault at each in turn (a comparison flipped, a
constant moved by one, a condition negated, && and || swapped, a call's result ignored, a
statement removed), rebuilds the unit and module tests in build/mutants and runs them with a
time limit. A mutant is killed when a suite fails, survived when both pass, timed out when a
suite runs past its limit, and invalid when it does not build (not counted, nor is "gone"). Prints one line
per mutant and the totals, and writes them as JSON (--out, default mutants.json) so that two
runs can be compared mutant by mutant.

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
SUITES = [("unit_tests", 180), ("module_tests", 300)]
BUILD_SECONDS = 900

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


def sources(root):
    found = []
    for folder in FOLDERS:
        for base, dirs, names in os.walk(os.path.join(root, folder)):
            dirs[:] = sorted(d for d in dirs if d != "win32")
            found += [os.path.relpath(os.path.join(base, n), root) for n in sorted(names)
                      if n.endswith(".cpp")]
    return sorted(found)


def sites(root):
    """Every (file, line number, kind, original line, mutated line) the operators allow."""
    out = []
    for path in sources(root):
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
    """'ok', 'failed' or 'timeout'."""
    try:
        done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=seconds)
        return "ok" if done.returncode == 0 else "failed"
    except subprocess.TimeoutExpired:
        return "timeout"


def build(root):
    return run(["cmake", "--build", os.path.join(root, BUILD), "-j", str(os.cpu_count() or 2),
                "--target"] + [name for name, _ in SUITES], BUILD_SECONDS)


def judge(root):
    if build(root) != "ok":
        return "invalid"
    for name, seconds in SUITES:
        outcome = run([os.path.join(root, BUILD, "bin", name), "--gtest_brief=1"], seconds)
        if outcome == "failed":
            return "killed"
        if outcome == "timeout":
            return "timed out"
    return "survived"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", default="mutants.json")
    parser.add_argument("--replay")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

    if args.replay:
        chosen = replayed(root, args.replay)
        print("%d mutants of %s replayed" % (len(chosen), args.replay))
    else:
        everything = sites(root)
        chosen = random.Random(args.seed).sample(everything, min(args.count, len(everything)))
        chosen.sort(key=lambda s: (s[0], s[1], s[2]))
        print("%d places found in %s; %d chosen (seed %d)" % (len(everything), " ".join(FOLDERS),
                                                            len(chosen), args.seed))
    if args.list:
        for path, number, kind, old, new in chosen:
            print("%s:%d %s\n  - %s\n  + %s" % (path, number, kind, old.strip(), new.strip()))
        return 0

    subprocess.run(["cmake", "--preset", "linux", "-B", os.path.join(root, BUILD),
                    "-DCMAKE_BUILD_TYPE=Debug", "-DPEZ_BUILD_BENCH=OFF"], cwd=root, check=True,
                   stdout=subprocess.DEVNULL)
    if judge(root) != "survived":
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
            outcome = judge(root)
        finally:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original)
        results.append({"file": path, "line": number, "kind": kind, "original": old.strip(),
                        "mutant": new.strip(), "outcome": outcome})
        print("%3d %-10s %s:%d %s: %s" % (index, outcome, path, number, kind, new.strip()),
              flush=True)
    build(root)  # leaves the build as the sources are

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
