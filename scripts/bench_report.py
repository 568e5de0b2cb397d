#!/usr/bin/env python3
"""Writes the performance page from one run of the benchmarks.

Usage: bench_report.py <folder of Google Benchmark JSON files> <page.md> <chart data> [watch.json]

Every figure is put beside the anchor measured in the same run; the ratio is the figure's
time over the anchor's (below 1: faster than the anchor). A goal is either a ratio bound, a
bound on the difference in nanoseconds, or an absolute bound on the figure. watch.json, when
given, holds the whole path's figures from scripts/bench-watch.sh (a watched tree against the
same tree unwatched, and the copy limit); without it the page says that they were not measured.
"""
import json
import os
import platform
import subprocess
import sys
from datetime import datetime, timezone


def load(folder):
    runs, context = {}, {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name)) as f:
            data = json.load(f)
        context = data.get("context", context)
        for b in data.get("benchmarks", []):
            if b.get("run_type", "iteration") != "iteration" or b.get("error_occurred"):
                continue
            runs[(name[:-5], b["name"])] = b
    return runs, context


SCALE = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def ns(run, real=False):
    return run["real_time" if real else "cpu_time"] * SCALE[run["time_unit"]]


def shown(value):
    if value >= 1e6:
        return "%.2f ms" % (value / 1e6)
    if value >= 1e3:
        return "%.2f µs" % (value / 1e3)
    return "%.1f ns" % value


# (label, program, figure, anchor, real time?, goal kind, bound, goal text)
# Goal kinds: "diff" figure - anchor <= bound ns; "ratio" figure / anchor <= bound;
# "abs" figure <= bound ns; "reopen" (figure - anchor) / 2 s <= bound; None: no goal.
ROWS = []
for t in (1, 2, 8):
    ROWS.append(("CallFunc admission, %d thread%s" % (t, "s" if t > 1 else ""), "dispatch_bench",
                 "BM_CallFuncFlushEvents/threads:%d" % t, "BM_DirectEngineCall/threads:%d" % t,
                 False, "diff", 5.0, "within 5 ns of a direct engine call"))
# The same call in the build that counts on one shared atomic (PEZ_ATOMIC_ADMISSION).
for t in (1, 2, 8):
    ROWS.append(("CallFunc admission, atomic build, %d thread%s" % (t, "s" if t > 1 else ""),
                 "dispatch_bench_atomic", "BM_CallFuncFlushEvents/threads:%d" % t,
                 "BM_DirectEngineCall/threads:%d" % t, False, None, None, ""))
# The same call split by layer: the wrapper's slot 4 called directly (no export).
for t in (1, 2, 8):
    ROWS.append(("wrapper's slot 4 alone, %d thread%s" % (t, "s" if t > 1 else ""),
                 "dispatch_bench", "BM_WrapperSlot4FlushEvents/threads:%d" % t,
                 "BM_DirectEngineCall/threads:%d" % t, False, None, None, ""))
for t in (1, 2, 8):
    ROWS.append(("admission on owned slots, %d thread%s" % (t, "s" if t > 1 else ""),
                 "admission_bench", "BM_AdmissionOwnedSlots/threads:%d" % t,
                 "BM_AdmissionAtomic/threads:%d" % t, False, "ratio", 1.0,
                 "no slower than the plainly atomic count"))
for t in (1, 2, 8):
    ROWS.append(("admission counted once for both flags, %d thread%s" % (t, "s" if t > 1 else ""),
                 "admission_bench", "BM_AdmittedOnceForBothFlags/threads:%d" % t,
                 "BM_AdmittedByBothLayers/threads:%d" % t, False, "ratio", 1.0,
                 "no slower than a count in each layer"))
ROWS.append(("shut-down's drain step (barrier and slots read)", "admission_bench",
             "BM_ShutdownTotal", "BM_FlagReadsOnlyAnchor/threads:1", False, None, None, ""))
ROWS += [
    ("ForwardEvent of a file event (CallFunc)", "event_bench", "BM_CallFuncFileEvent/readOnly:0",
     "BM_GeneratedVerifyThenRead/readOnly:0", False, "abs", 100.0, "at most 100 ns"),
    ("event reader and decision, forwarded", "event_bench", "BM_ReaderDecision/readOnly:0",
     "BM_GeneratedVerifyThenRead/readOnly:0", False, "ratio", 1.0,
     "no slower than generated code after its verifier"),
    ("event reader and decision, read-only", "event_bench", "BM_ReaderDecision/readOnly:1",
     "BM_GeneratedVerifyThenRead/readOnly:1", False, "ratio", 1.0,
     "no slower than generated code after its verifier"),
    ("CLogger line, header off", "logger_bench", "BM_WriteLineHeaderOff", "BM_PlainAppendAnchor",
     False, "ratio", 1.5, "at least 2/3 of a plain append's speed"),
    ("CLogger line, header on", "logger_bench", "BM_WriteLineHeaderOn", "BM_PlainAppendAnchor",
     False, None, None, ""),
    ("CLogger 2-second reopen", "logger_bench", "BM_WriteLineWithReopen", "BM_WriteLineHeaderOff",
     False, "reopen", 0.01, "extra cost under 1% of 2 s"),
    ("diagnostic line dropped", "diag_bench", "BM_LineDroppedByGate", "BM_HostQueriesOnly", False,
     "diff", 5.0, "within 5 ns of the two host queries"),
    ("diagnostic line written to the host", "diag_bench", "BM_LineWrittenToHost",
     "BM_HostQueriesOnly", False, None, None, ""),
]
for t in (2, 8):
    ROWS.append(("Morrick read, %d threads (CPU per read)" % t, "morrick_bench",
                 "BM_GetUInt32/threads:%d" % t, "BM_GetUInt32/threads:1", False, "ratio", 2.0,
                 "scales: CPU per read at most 2x one thread's"))
ROWS += [
    ("Morrick record made, filled, read, destroyed", "morrick_bench", "BM_CreateFillReadDestroy",
     "BM_GetUInt32/threads:1", False, None, None, ""),
    ("SerializeRestoreReport", "feedback_bench", "BM_SerializeRestoreReport",
     "BM_LibprotobufFromReport", False, "ratio", 1.0, "faster than libprotobuf"),
    ("SerializeRestoreReport vs prebuilt message", "feedback_bench", "BM_SerializeRestoreReport",
     "BM_LibprotobufPrebuiltMessage", False, None, None, ""),
    ("configuration batch: parse and read 13 answers", "config_bench",
     "BM_ParseAndReadThirteenSettings", "BM_SerialiseThirteenSettings", False, None, None, ""),
    ("ExpandPathVariables", "path_bench", "BM_ExpandPathVariables", "BM_CopyInputAnchor", False,
     None, None, ""),
    ("engine: version of 1 MiB on an event", "zef_bench",
     "BM_VersionOfOneMebibyteOnAnEvent/iterations:400/manual_time", "BM_PlainCopy/1/0/real_time",
     True, None, None, ""),
    ("engine: restore by edition, 1 MiB", "zef_bench", "BM_RestoreByEdition/1/real_time",
     "BM_PlainCopy/1/1/real_time", True, None, None, ""),
    ("engine: restore by edition, 100 MiB", "zef_bench", "BM_RestoreByEdition/100/real_time",
     "BM_PlainCopy/100/1/real_time", True, None, None, ""),
    # The store's appends: an edition costs the same whatever the store holds.
    ("engine: backup into a store of 10,000 editions", "zef_bench",
     "BM_AppendIntoAStoreOfEditions/10000/iterations:2000",
     "BM_AppendIntoAStoreOfEditions/100/iterations:2000", True, "ratio", 2.0,
     "constant time: at most 2x a backup into a store of 100"),
    ("engine: baseline of 20,000 small files", "zef_bench",
     "BM_BaselineOfTwentyThousandFiles/iterations:1/manual_time",
     "BM_AppendIntoAStoreOfEditions/100/iterations:2000", True, "abs", 20e9,
     "at most 20 s (1,000 files/s)"),
    ("engine: stop holding 2,000 versions", "zef_bench",
     "BM_StopKeepingTwoThousandVersions/iterations:1/manual_time",
     "BM_AppendIntoAStoreOfEditions/100/iterations:2000", True, "abs", 1e9, "within 1 s"),
]


def verdict(kind, bound, figure, anchor):
    if kind is None:
        return "", ""
    if kind == "diff":
        value = figure - anchor
        return ("met" if value <= bound else "missed"), "+%.1f ns" % value
    if kind == "ratio":
        value = figure / anchor
        return ("met" if value <= bound else "missed"), "%.2fx" % value
    if kind == "abs":
        return ("met" if figure <= bound else "missed"), shown(figure)
    if kind == "reopen":
        value = (figure - anchor) / 2e9
        return ("met" if value <= bound else "missed"), "%.4f%%" % (value * 100)
    raise ValueError(kind)


def machine(context):
    try:
        model = [l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo")
                 if l.startswith("model name")][0]
    except (OSError, IndexError):
        model = platform.processor() or "unknown"
    try:
        commit = subprocess.run(["git", "log", "-1", "--format=%h"], capture_output=True,
                                text=True).stdout.strip()
    except OSError:
        commit = ""
    return model, context.get("num_cpus", os.cpu_count()), commit


def create_note(w):
    """What creating a file cost during the run, and why it moves."""
    if w.get("create_us") is None:
        return ""
    return ("Creating an empty file cost %.0f µs during this run. On ext4 without a journal, "
            "that cost depends on where the new file's inode lands: the kernel steps past "
            "every inode deleted there in the last minutes, one by one, and a profile shows that "
            "search as most of a creation's time (we measured 14–760 µs per file at different "
            "moments). The limit pays it once per file, the watched run once more per version "
            "(the store makes a file for each)." % w["create_us"])


def watch_section(watch):
    """The whole path's table: each figure beside the unwatched run and the copy limit."""
    lines = ["", "## The whole path: a watched tree against the same tree unwatched", ""]
    if watch is None:
        lines += ["Not measured in this run: `scripts/bench-watch.sh` watches before-write, which "
                  "needs root.", ""]
        return lines, []
    w = watch
    lines += [
        "From `scripts/bench-watch.sh` in the same run: %d files of /usr/include (%.1f MB), "
        "first each appended one line by its own shell redirection, then each rewritten in "
        "place by one python3 process, unwatched and then watched by `Pellumhost run "
        "--source before-write`. The limit is the unwatched time plus what copying the same "
        "bytes costs (each file copied once into a new file by one process, `cp -r` without block "
        "sharing, %.3f s): a version of every file cannot cost less." % (w["files"], w["tree_bytes"] / 1e6, w["copy"]),
        "",
        "| figure | watched | unwatched | limit | watched / unwatched | watched / limit | goal | met |",
        "|---|---|---|---|---|---|---|---|",
    ]
    data = []
    for name, label, bound in (("append", "append, a shell per file", 2.0),
                               ("rewrite", "rewrite, one process", 1.3)):
        watched, plain = w[name + "_watched"], w[name + "_unwatched"]
        limit = plain + w["copy"]
        ratio = watched / plain
        lines.append("| %s | %.3f s | %.3f s | %.3f s | %.2fx | %.2fx | at most %.1fx | %s |" % (
            label, watched, plain, limit, ratio, watched / limit, bound,
            "met" if ratio <= bound else "missed"))
        data.append(("whole path: %s, watched / unwatched" % name, ratio))
        data.append(("whole path: %s, watched / limit" % name, watched / limit))
    lines.append("| `stop` after the work | %.3f s | | | | | within 1 s | %s |" % (
        w["stop"], "met" if w["stop"] <= 1.0 else "missed"))
    p99 = w.get("open_hold_p99_us")
    if p99 is not None:
        lines.append("| open held for its version, p99 (p50 %s µs) | %d µs | | | | | within 1 ms | %s |" % (
            w.get("open_hold_p50_us"), p99, "met" if p99 <= 1000 else "missed"))
    ratio = w["db_bytes"] / w["content_bytes"] if w["content_bytes"] else float("inf")
    lines.append("| database / the unique data it holds | %.1f MB / %.1f MB | | | | | at most 1.1x | %s (%.2fx) |" % (
        w["db_bytes"] / 1e6, w["content_bytes"] / 1e6, "met" if ratio <= 1.1 else "missed", ratio))
    lines.append("| Pellumhost.log lines per write (default level) | %.2f | | | | | | |" % (
        w["log_lines"] / (2.0 * w["files"])))
    lines += [
        "",
        "Where the limit column is below 1, the watched run cost less than the unwatched one plus "
        "the copy as `cp -r` makes it (which makes the tree's folders too). What a held open costs beyond the copy: the reader's read of the "
        "event and of the file's path, the hand-off to the worker thread, the event message "
        "through the plug-in, the engine's two looks at the file's size and time around the "
        "copy and one append to `staged.log`, and the detector's read of the file's first "
        "4 KiB; the answer goes out after that. Each version is written into an empty file of "
        "`staging/` that the store made ahead of time (256 are kept ready), so no file is "
        "created while the writer waits unless a burst outruns them; each copy of the limit "
        "is a new file, and where creating a file is slow, that creation is most of the "
        "limit. %s The "
        "log keeps one line per write at the "
        "default level: the plug-in's own trace line for each file event it forwards (level "
        "2); `--log-level 3` leaves it out. The database holds, besides the unique content, "
        "a descriptor and a log record per edition, the journal of staged versions and the "
        "host's change journal (about 0.3 KB each per write, for files of 6 KB on average)." % create_note(w),
        ""]
    return lines, data


def main(folder, page, chart, watch_file=None):
    runs, context = load(folder)
    model, cpus, commit = machine(context)
    lines = [
        "# Performance",
        "",
        "Written by `scripts/bench.sh` from one run of every program in `bench/` (preset "
        "`linux`, RelWithDebInfo). Each figure stands beside the anchor measured in the same "
        "run; the ratio is the figure's time over the anchor's (below 1: faster than the "
        "anchor). Times are CPU time per operation (per operation summed over threads for the "
        "threaded rows), real time for the engine's file work.",
        "",
        "- machine: %s, %s CPUs, %s %s" % (model, cpus, platform.system(), platform.release()),
        "- date: %s" % datetime.now(timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "- commit: %s" % (commit or "unknown"),
        "- load while measuring: %s" % " ".join("%.2f" % x for x in os.getloadavg()),
        "",
        "![ratios of every figure to its anchor](performance.svg)",
        "",
        "| figure | time | anchor | anchor time | ratio | goal | measured | met |",
        "|---|---|---|---|---|---|---|---|",
    ]
    data = []
    for label, program, figure, anchor, real, kind, bound, goal in ROWS:
        f, a = runs.get((program, figure)), runs.get((program, anchor))
        if f is None or a is None:
            lines.append("| %s | not measured | `%s` | | | %s | | missed |" % (label, anchor, goal))
            continue
        fv, av = ns(f, real), ns(a, real)
        met, measured = verdict(kind, bound, fv, av)
        lines.append("| %s | %s | `%s` | %s | %.2f | %s | %s | %s |" % (
            label, shown(fv), anchor.split("/")[0], shown(av), fv / av, goal, measured, met))
        data.append((label, fv / av))
    watch = None
    if watch_file:
        with open(watch_file) as f:
            watch = json.load(f)
    section, watch_data = watch_section(watch)
    lines += section
    data += watch_data
    with open(page, "w") as f:
        f.write("\n".join(lines))
    with open(chart, "w") as f:
        for i, (label, ratio) in enumerate(data):
            f.write('%d "%s" %.4f\n' % (i, label.replace('"', "'"), ratio))


if __name__ == "__main__":
    main(*sys.argv[1:5])
