#!/usr/bin/env bash
# Mutation run: applies each mutant to the library source, rebuilds, runs the
# test suite and counts the mutants that the suite kills.
#
#   scripts/mutate.sh [--out FILE] <source tree> <build dir> <mutants file> [mutant ids...]
#   scripts/mutate.sh --check <source tree> <mutants file>
#
# A mutants file has one mutant per line (lines starting with # are comments):
#   id<TAB>search text<TAB>replacement text<TAB>short description
# In both texts \n, \t and \\ stand for a line feed, a tab and a backslash.
# A mutant applies to the one library file (*.cc, *.h under core/ service/
# messages/ accessor/ platform/) that holds its search text exactly once while
# no other library file holds it; otherwise it is "not applicable".
#
# The build dir must be configured from the source tree. The unmutated suite
# must pass first. Each mutant then gets one build (cmake --build, -j2) and one
# suite run (ctest -j2, 90 s per test, without the tests that wait for real
# seconds, the install and example checks and the MinGW compile); a failing
# suite kills the mutant when the failed tests fail again on a rerun (else the
# mutant is "flaky": a loaded machine can fail a test that has nothing to do
# with the mutant), a failing build makes it "stillborn". The mutated
# file is restored byte for byte after each mutant, also on an interrupt; a
# copy kept in <build dir>/mutate-backup until then lets a later run restore
# it should this one be killed outright. The build dir is rebuilt at the end.
# Build and test output goes to <build dir>/mutate.log; --out also names the
# tests that failed for each killed mutant. --check only tells which mutants
# apply to a tree.
set -euo pipefail
exec python3 - "$@" <<'PY'
import os, re, signal, subprocess, sys, time

LIBRARY_DIRS = ("core", "service", "messages", "accessor", "platform")
EXCLUDED_TESTS = r"Slow|Install\.|Example|win32"
USAGE = ("usage: mutate.sh [--out FILE] <source tree> <build dir> <mutants file> [ids...]\n"
         "       mutate.sh --check <source tree> <mutants file>")


def unescape(text):
    return re.sub(r"\\([nt\\])", lambda m: {"n": "\n", "t": "\t", "\\": "\\"}[m.group(1)], text)


def read_mutants(path):
    mutants, seen = [], set()
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 4 or not fields[0] or not fields[1] or fields[0] in seen:
                sys.exit(f"{path}:{number}: need a new id, a search text, a replacement and a "
                         "description, separated by tabs")
            seen.add(fields[0])
            mutants.append((fields[0], unescape(fields[1]).encode(), unescape(fields[2]).encode(),
                            fields[3]))
    return mutants


def library_files(tree):
    """Relative path -> bytes of every library source file of tree."""
    files = {}
    for top in LIBRARY_DIRS:
        for root, _, names in os.walk(os.path.join(tree, top)):
            for name in names:
                if name.endswith((".cc", ".h")):
                    path = os.path.join(root, name)
                    with open(path, "rb") as f:
                        files[os.path.relpath(path, tree)] = f.read()
    return files


def locate(files, search):
    """(file, None) for the one file holding search once, else (None, why not)."""
    hits = sorted((path, text.count(search)) for path, text in files.items() if search in text)
    if not hits:
        return None, "not found"
    if len(hits) > 1 or hits[0][1] > 1:
        return None, "ambiguous: " + ", ".join(f"{path} x{count}" for path, count in hits)
    return hits[0][0], None


def run(command, log):
    """Runs command (in its own process group, output to log); True on success.
    An interrupt kills the whole group before it goes on, so that no compiler
    or test is left working on a file that is about to be restored."""
    with open(log, "ab") as out:
        out.write(("\n$ " + " ".join(command) + "\n").encode())
        out.flush()
        child = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            return child.wait() == 0
        except BaseException:
            os.killpg(child.pid, signal.SIGKILL)
            child.wait()
            raise


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def failed_tests_log(build):
    return os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")


def failed_tests(build):
    """The names of the tests that failed in the last suite run (for a flaky
    mutant: those that failed in the first run and passed in the rerun)."""
    path = failed_tests_log(build)
    if not os.path.exists(path):
        return ""
    with open(path) as f:
        return " ".join(line.strip().partition(":")[2] for line in f if line.strip())


def restore_leftover(backup):
    """Restores a file that an earlier run left mutated (it was killed outright)."""
    if os.path.exists(backup):
        with open(backup, "rb") as f:
            path, _, data = f.read().partition(b"\n")
        write(path.decode(), data)
        os.remove(backup)
        print(f"restored {path.decode()} left mutated by an interrupted run")


def check(tree, mutants_file):
    files = library_files(tree)
    mutants = read_mutants(mutants_file)
    applicable = 0
    for mid, search, _, _ in mutants:
        path, why = locate(files, search)
        applicable += path is not None
        print(f"{mid:<28} {path or 'not applicable: ' + why}")
    print(f"{applicable} of {len(mutants)} mutants applicable in {tree}")


def mutate(tree, build, mutants_file, ids, out_file):
    cache = os.path.join(build, "CMakeCache.txt")
    home = re.search(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$",
                     open(cache).read() if os.path.exists(cache) else "", re.M)
    if not home or os.path.realpath(home.group(1)) != os.path.realpath(tree):
        sys.exit(f"{build} is not a build dir configured from {tree}")
    mutants = read_mutants(mutants_file)
    unknown = set(ids) - {m[0] for m in mutants}
    if unknown:
        sys.exit("unknown mutant ids: " + " ".join(sorted(unknown)))
    mutants = [m for m in mutants if not ids or m[0] in ids]
    started = time.time()
    log = os.path.join(build, "mutate.log")
    backup = os.path.join(build, "mutate-backup")
    open(log, "wb").close()
    build_cmd = ["cmake", "--build", build, "-j2"]
    test_cmd = ["ctest", "--test-dir", build, "-j2", "--timeout", "90", "-E", EXCLUDED_TESTS]
    restore_leftover(backup)
    if not (run(build_cmd, log) and run(test_cmd, log)):
        sys.exit(f"the unmutated build or suite fails (see {log}); no mutant can be judged")

    rows, interrupted = [], False
    try:
        for mid, search, replacement, description in mutants:
            files = library_files(tree)
            path, why = locate(files, search)
            begin, failing = time.time(), ""
            if path is None:
                result = "not applicable"
            else:
                full_path, original = os.path.join(tree, path), files[path]
                write(backup, full_path.encode() + b"\n" + original)
                try:
                    with open(log, "ab") as out:
                        out.write(f"\n=== mutant {mid}: {path}\n".encode())
                    write(full_path, original.replace(search, replacement, 1))
                    # ctest leaves the list of a run with failures behind; the
                    # rerun must never take an earlier mutant's list.
                    if os.path.exists(failed_tests_log(build)):
                        os.remove(failed_tests_log(build))
                    if not run(build_cmd, log):
                        result = "stillborn"
                    elif run(test_cmd, log):
                        result = "survived"
                    elif run(test_cmd + ["--rerun-failed"], log):
                        result, failing = "flaky", failed_tests(build)
                    else:
                        result, failing = "killed", failed_tests(build)
                finally:
                    write(full_path, original)
                    os.remove(backup)
            rows.append((mid, path or "-", result, time.time() - begin, description, failing))
            print(f"{mid:<28} {path or '-':<34} {result:<14} {rows[-1][3]:6.1f} s", flush=True)
    except KeyboardInterrupt:
        interrupted = True
        print("interrupted: the mutated file is restored")
    finally:
        if not interrupted and not run(build_cmd, log):
            print(f"warning: the final rebuild of {build} failed (see {log})")

    count = lambda what: sum(row[2] == what for row in rows)
    applicable = len(rows) - count("not applicable")
    summary = (f"applicable {applicable} / killed {count('killed')} / survived "
               f"{count('survived')} / stillborn {count('stillborn')} / flaky "
               f"{count('flaky')}; not applicable "
               f"{count('not applicable')}; {time.time() - started:.0f} s")
    print(summary)
    if out_file:
        with open(out_file, "w") as out:
            out.write("id\tfile\tresult\tseconds\tdescription\tfailed tests\n")
            for mid, path, result, seconds, description, failing in rows:
                out.write(f"{mid}\t{path}\t{result}\t{seconds:.1f}\t{description}\t{failing}\n")
            out.write(f"# {summary}\n")
    return 130 if interrupted else 0


def main(args):
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, signal.default_int_handler)
    if args[:1] == ["--check"]:
        if len(args) != 3:
            sys.exit(USAGE)
        return check(args[1], args[2])
    out_file = None
    if args[:1] == ["--out"]:
        if len(args) < 2:
            sys.exit(USAGE)
        out_file, args = args[1], args[2:]
    if len(args) < 3:
        sys.exit(USAGE)
    return mutate(args[0], args[1], args[2], args[3:], out_file)


sys.exit(main(sys.argv[1:]))
PY
