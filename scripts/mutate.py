#!/usr/bin/env python3
"""Mutation run: applies each mutant of scripts/mutants.txt (lines of
id<TAB>search<TAB>replacement<TAB>description; \\n, \\t and \\\\ stand for a line
feed, a tab and a backslash) to the one library file (*.cc, *.h under LIBRARY)
that holds its search text, exactly once, rebuilds and runs the tests of the
plain preset (--asan: the asan preset): all but those labelled slow, then
(plain only: a sanitizer stretches their real waits) the slow ones when none
of those fails. Killed: tests fail, and again when rerun; flaky: the rerun
passes; survived: none fails; stillborn: no build. The file is restored after
each mutant, also on an interrupt, or after a kill from <build>/mutate-backup
at the next start. Each mutant's line names its failed tests; all output is in
<build>/mutate.log.
"""
import argparse, glob, os, re, signal, subprocess, sys, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIBRARY = ("core", "service", "messages", "accessor", "platform", "capi")


def read_mutants(path):
    escapes = {"n": "\n", "t": "\t", "\\": "\\"}
    unescape = lambda text: re.sub(r"\\([nt\\])", lambda m: escapes[m[1]], text)
    mutants = {}
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        fields = line.rstrip("\n").split("\t")
        if line.startswith("#") or not line.strip():
            continue
        if len(fields) != 4 or not all(fields[:2]) or fields[0] in mutants:
            sys.exit(f"{path}:{number}: need a new id, a search, a replacement and a description")
        mutants[fields[0]] = (unescape(fields[1]).encode(), unescape(fields[2]).encode(), fields[3])
    return mutants


def locate(search):
    """(path, None) for the one library file holding search once, else (None, why not)."""
    paths = [p for top in LIBRARY for ext in ("cc", "h")
             for p in glob.glob(f"{ROOT}/{top}/**/*.{ext}", recursive=True)]
    hits = [(p, n) for p in sorted(paths) if (n := open(p, "rb").read().count(search))]
    if len(hits) == 1 and hits[0][1] == 1:
        return hits[0][0], None
    return None, ", ".join(f"{os.path.relpath(p, ROOT)} x{n}" for p, n in hits) or "not found"


def run(log, *command):
    """Runs command in its own process group, output to log; True on success.
    An interrupt kills the whole group before a mutated file is restored."""
    log.write(f"\n$ {' '.join(command)}\n".encode())
    log.flush()
    child = subprocess.Popen(command, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL, start_new_session=True)
    try:
        return child.wait() == 0
    except BaseException:
        os.killpg(child.pid, signal.SIGKILL)
        child.wait()
        raise


def judge(mutant, path, preset, build, log):
    """Applies mutant to path, builds and tests: its result and failed tests."""
    search, replacement, description = mutant
    original, backup = open(path, "rb").read(), os.path.join(build, "mutate-backup")
    failed_list = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    open(backup, "wb").write(path.encode() + b"\n" + original)
    try:
        log.write(f"\n=== {description}: {path}\n".encode())
        open(path, "wb").write(original.replace(search, replacement, 1))
        if os.path.exists(failed_list):  # ctest leaves it after a run with failures
            os.remove(failed_list)
        if not run(log, "cmake", "--build", "--preset", preset):
            return "stillborn", ""
        runs = [["ctest", "--preset", preset]]
        if preset == "plain":
            runs.append(["ctest", "--test-dir", build, "--output-on-failure", "-L", "slow"])
        for tests in runs:
            if not run(log, *tests):
                failed = " ".join(line.strip().partition(":")[2] for line in open(failed_list))
                rerun_passes = run(log, *tests, "--rerun-failed")
                return ("flaky" if rerun_passes else "killed"), failed
        return "survived", ""
    finally:
        open(path, "wb").write(original)
        os.remove(backup)


def mutate(mutants, ids, preset):
    build = os.path.join(ROOT, f"build-{preset}")
    os.makedirs(build, exist_ok=True)
    backup, log = os.path.join(build, "mutate-backup"), open(f"{build}/mutate.log", "wb")
    if os.path.exists(backup):
        path, _, data = open(backup, "rb").read().partition(b"\n")
        open(path, "wb").write(data)
        os.remove(backup)
        print(f"restored {path.decode()}, left mutated by a run that was killed")
    steps = (["cmake"], ["cmake", "--build"], ["ctest"])
    if not all(run(log, *step, "--preset", preset) for step in steps):
        sys.exit(f"the unmutated build or tests fail (see {log.name}); no mutant can be judged")
    started, rows = time.time(), []
    try:
        for mid in ids:
            begin, (path, why) = time.time(), locate(mutants[mid][0])
            result, failed = ("not applicable", why) if path is None else judge(
                mutants[mid], path, preset, build, log)
            rows.append(result)
            where = os.path.relpath(path, ROOT) if path else "-"
            print(f"{mid:<28} {where:<34} {result:<14} {time.time() - begin:6.1f} s  {failed}",
                  flush=True)
    except KeyboardInterrupt:
        sys.exit("interrupted: the mutated file is restored")
    run(log, "cmake", "--build", "--preset", preset)  # the build as the source is again
    count = rows.count
    print(f"applicable {len(rows) - count('not applicable')} / killed {count('killed')} / "
          f"survived {count('survived')} / stillborn {count('stillborn')} / flaky "
          f"{count('flaky')}; not applicable {count('not applicable')}; "
          f"{time.time() - started:.0f} s")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--check", action="store_true", help="only tell which mutants apply")
    parser.add_argument("--asan", action="store_true", help="the asan presets instead of plain")
    parser.add_argument("ids", nargs="*", help="only these mutants")
    args = parser.parse_args()
    mutants = read_mutants(os.path.join(ROOT, "scripts", "mutants.txt"))
    unknown = set(args.ids) - set(mutants)
    if unknown:
        sys.exit("unknown mutant ids: " + " ".join(sorted(unknown)))
    ids = args.ids or list(mutants)
    if not args.check:
        return mutate(mutants, ids, "asan" if args.asan else "plain")
    where = {mid: locate(mutants[mid][0]) for mid in ids}
    for mid, (path, why) in where.items():
        print(f"{mid:<28} {os.path.relpath(path, ROOT) if path else 'not applicable: ' + why}")
    print(f"{sum(path is not None for path, _ in where.values())} of {len(ids)} mutants apply")


if __name__ == "__main__":
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, signal.default_int_handler)
    for variable in ("CMAKE_BUILD_PARALLEL_LEVEL", "CTEST_PARALLEL_LEVEL"):  # presets leave it open
        os.environ.setdefault(variable, str(os.cpu_count()))
    sys.exit(main())
