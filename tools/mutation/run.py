#!/usr/bin/env python3
"""Mutation run: puts one fault at a time into the library or the simulated
platform, rebuilds, runs the suite and records which tests catch it.

The faults are listed in mutants.txt beside this script, one block each:

    [id] path/to/file.cpp  kind of fault  (@N: the Nth line with this text)
    - the line as it stands (leading and trailing blanks ignored)
    + the line with the fault

Usage: tools/mutation/run.py [--build DIR] [--jobs N] [--only ID,ID] [--record FILE] [--copy DIR] [--check]
With --check every fault's file and line are only looked up, without
changing or building anything; all faults not found are listed.
The build directory (default build/mutation) is configured once with the
library and the tests only (and the examples when a fault lies in them),
then rebuilt incrementally for each fault. The
source is restored after every fault, also when the run is interrupted.
With --copy the tree is first copied to DIR and the faults go into the copy,
so that the working tree stays free for editing during the run.
"""
import argparse, json, os, re, shutil, subprocess, sys, time
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def load_mutants(path):
    mutants, cur = [], None
    for number, raw in enumerate(open(path), 1):
        line = raw.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        head = re.match(r"\[(\w+)\]\s+(\S+)\s*(.*)$", line)
        if head:
            note = head.group(3)
            nth = re.search(r"@(\d+)", note)
            cur = {"id": head.group(1), "file": head.group(2), "note": re.sub(r"\s*@\d+", "", note).strip(),
                   "nth": int(nth.group(1)) if nth else 1, "old": None, "new": None}
            mutants.append(cur)
        elif line.startswith("- ") and cur:
            cur["old"] = line[2:].strip()
        elif line.startswith("+ ") or line == "+":
            cur["new"] = line[2:].strip()
        else:
            sys.exit(f"{path}:{number}: cannot read '{line}'")
    ids = [m["id"] for m in mutants]
    if len(ids) != len(set(ids)):
        sys.exit("mutant ids repeat")
    return mutants


def locate(mutant):
    """Returns the file's text and the index of the line to change, or raises if it is not there."""
    path = os.path.join(ROOT, mutant["file"])
    if not os.path.isfile(path):
        raise LookupError(f"{mutant['id']}: no file {mutant['file']}")
    if mutant["old"] is None or mutant["new"] is None:
        raise LookupError(f"{mutant['id']}: needs a '-' line and a '+' line")
    text = open(path).read()
    hits = [i for i, l in enumerate(text.split("\n")) if l.strip() == mutant["old"]]
    if len(hits) < mutant["nth"]:
        raise LookupError(f"{mutant['id']}: '{mutant['old']}' not found {mutant['nth']} time(s) in {mutant['file']}")
    return text, hits[mutant["nth"] - 1]


def apply(mutant):
    """Returns the original text of the file, or raises if the line is not there."""
    text, i = locate(mutant)
    path = os.path.join(ROOT, mutant["file"])
    lines = text.split("\n")
    indent = lines[i][: len(lines[i]) - len(lines[i].lstrip())]
    lines[i] = indent + mutant["new"]
    open(path, "w").write("\n".join(lines))
    return text


def run(cmd, **kw):
    return subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, **kw)


def failed_tests(build, jobs, timeout):
    junit = os.path.join(build, "mutation-junit.xml")
    if os.path.exists(junit):
        os.remove(junit)
    run(["ctest", "--test-dir", build, "-j", str(jobs), "--timeout", str(timeout), "--output-junit", junit])
    failed = []
    for case in ET.parse(junit).getroot().iter("testcase"):
        if case.get("status") not in ("run", "skipped", "disabled", "notrun") or case.find("failure") is not None:
            failed.append(case.get("name"))
    return sorted(failed)


def main():
    global ROOT
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "mutation"))
    ap.add_argument("--jobs", type=int, default=4)
    ap.add_argument("--timeout", type=int, default=20)
    ap.add_argument("--only", default="")
    ap.add_argument("--record", default=os.path.join(HERE, "record.json"))
    ap.add_argument("--list", default=os.path.join(HERE, "mutants.txt"))
    ap.add_argument("--copy", default="")
    ap.add_argument("--check", action="store_true", help="only look up every fault's line, then exit")
    args = ap.parse_args()
    if args.copy:
        copy = os.path.abspath(args.copy)
        if os.path.exists(copy):
            shutil.rmtree(copy)
        shutil.copytree(ROOT, copy, ignore=shutil.ignore_patterns("build", ".git"))
        ROOT = copy
        if args.build == ap.get_default("build"):
            args.build = copy + "-build"

    mutants = load_mutants(args.list)
    if args.only:
        wanted = set(args.only.split(","))
        mutants = [m for m in mutants if m["id"] in wanted]
    if args.check:
        missing = []
        for m in mutants:
            try:
                locate(m)
            except LookupError as e:
                missing.append(str(e))
        print("\n".join(missing + [f"{len(mutants) - len(missing)} of {len(mutants)} faults found"]))
        sys.exit(1 if missing else 0)
    # Every line must be found before anything is changed.
    for m in mutants:
        original = apply(m)
        open(os.path.join(ROOT, m["file"]), "w").write(original)

    build = args.build
    # The example programs and their tests are built when a fault lies in them.
    examples = any(m["file"].startswith("examples/") for m in mutants)
    if run(["cmake", "-S", ".", "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DULM3_WERROR=OFF",
            "-DULM3_BUILD_BENCH=OFF", "-DULM3_BUILD_EXAMPLES=" + ("ON" if examples else "OFF")]).returncode:
        sys.exit("configure failed")
    step = ["cmake", "--build", build, "-j", str(args.jobs)]
    b = run(step)
    if b.returncode:
        sys.exit("the unmutated tree does not build:\n" + b.stdout[-3000:] + b.stderr[-3000:])
    base = failed_tests(build, args.jobs, args.timeout)
    if base:
        sys.exit("the unmutated suite fails: " + ", ".join(base))

    record = {}
    try:
        for m in mutants:
            start = time.time()
            original = apply(m)
            try:
                b = run(step)
                if b.returncode:
                    outcome, caught = "build error", []
                else:
                    caught = failed_tests(build, args.jobs, args.timeout)
                    outcome = "caught" if caught else "SURVIVED"
            finally:
                open(os.path.join(ROOT, m["file"]), "w").write(original)
            record[m["id"]] = {"file": m["file"], "note": m["note"], "outcome": outcome, "caught_by": caught}
            print(f"{m['id']:>5} {outcome:<11} {len(caught):4} tests  {time.time() - start:5.1f} s  "
                  f"{m['file']}  {m['note']}", flush=True)
    finally:
        run(step)  # leave the build matching the restored source
        json.dump(record, open(args.record, "w"), indent=1, sort_keys=True)
    counts = {}
    for r in record.values():
        counts[r["outcome"]] = counts.get(r["outcome"], 0) + 1
    print("mutants", len(record), " ".join(f"{k}: {v}" for k, v in sorted(counts.items())))


if __name__ == "__main__":
    main()
