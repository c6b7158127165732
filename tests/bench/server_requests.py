#!/usr/bin/env python3
"""Counts the wineserver requests of the benchmark's traced installs.

    server_requests.py TRACE RUNS
    server_requests.py --check    checks the counting on a made-up trace

TRACE is what a wineserver started with -d1 wrote to its standard error while
BENCHRUN --traced-runs installed the product once with each installer; RUNS is
what that BENCHRUN printed: "FILES n" and one "TRACED pid label<tab>status"
line per run (the first for the watcher itself).

An installer's requests per file are those its process made from its first
request that names the first file to its first that names the last, divided
by the files in between: start-up, pages and the end are left out, for every
installer alike. Printed: the ten most frequent kinds of each installer side
by side, all requests, the whole process's requests per file, what other
processes (the watcher left out) asked meanwhile, the ratios, and the
commonest sequences of one file's requests as each installer made them."""
import collections
import re
import sys

REQUEST = re.compile(r"^([0-9a-f]{4,8}): ([a-z0-9_]+)\( ")
# A process's first thread learns its ids at its start; the others are made
# by a thread of the same process (ffffffff: the process itself).
FIRST_THREAD = re.compile(r"^[0-9a-f]{4,8}: init_first_thread\(\) = \w+ \{ pid=([0-9a-f]+), tid=([0-9a-f]+)")
NEW_THREAD = re.compile(r"^([0-9a-f]{4,8}): new_thread\(\) = 0 \{ tid=([0-9a-f]+)")
NAME = re.compile(r'name=L"((?:[^"\\]|\\.)*)"')
MESSAGE = re.compile(r"\bmsg=([0-9a-f]+)")
NUMBERED = re.compile(r"F\d{5}\.DAT")


class Run:
    def __init__(self, pid, status, label):
        self.pid, self.status, self.label = pid, status, label
        self.whole = collections.Counter()   # every request of the process
        self.span = collections.Counter()    # from the first file's request to the last file's
        self.others = collections.Counter()  # other processes' requests during that span
        self.state = "before"
        self.patterns = collections.Counter()  # each file's requests in order, and how many files made them so
        self.current = []
        self.next_file = 2

    def per_file(self, files):
        return self.status == "ok" and self.state == "after" and files > 1


def token(kind, line):
    """A request as one word: its kind, and the last level of the name or
    the message it carries, where it has one. The numbered files are all
    Fnnnnn.DAT, so that files handled alike read alike."""
    found = NAME.search(line)
    if found and found.group(1):
        name = NUMBERED.sub("Fnnnnn.DAT", found.group(1).replace("\\\\", "\\"))
        levels = [level for level in name.split("\\") if level]
        if levels:
            return f"{kind}({levels[-1]}{chr(92) if name.endswith(chr(92)) else ''})"
    found = MESSAGE.search(line)
    if found and kind in ("send_message", "post_quit_message"):
        return f"{kind}({int(found.group(1), 16):04x})"
    return kind


def threads_apart(requests):
    """One file's (thread, request) pairs as one sequence per thread, the
    threads in the order they began: how the threads' requests interleave
    depends on the moment, what each thread asks does not."""
    threads = {}
    for tid, request in requests:
        threads.setdefault(tid, []).append(request)
    sequence = []
    for n, tid in enumerate(threads):
        if n:
            sequence.append("| another thread:")
        sequence.extend(threads[tid])
    return tuple(sequence)


def count(trace_path, runs, files):
    first, last = f"F{1:05d}.DAT", f"F{files:05d}.DAT"
    by_pid = {run.pid: run for run in runs[1:]}
    watcher = runs[0].pid
    thread_pid = {}
    own_thread = {}  # whether a thread's new_thread request was for its own process
    inside = None  # the run whose span is open
    with open(trace_path, encoding="utf-8", errors="replace") as trace:
        for line in trace:
            match = REQUEST.match(line)
            if not match:
                started = FIRST_THREAD.match(line)
                if started:
                    thread_pid[started.group(2)] = started.group(1)
                    if started.group(1) in by_pid:
                        by_pid[started.group(1)].whole["init_first_thread"] += 1
                made = NEW_THREAD.match(line)
                if made and own_thread.get(made.group(1)) and made.group(1) in thread_pid:
                    thread_pid[made.group(2)] = thread_pid[made.group(1)]
                continue
            tid, kind = match.groups()
            if kind == "new_thread":
                own_thread[tid] = "process=ffffffff," in line
            pid = thread_pid.get(tid)
            run = by_pid.get(pid)
            if run is None:
                if inside is not None and pid != watcher:
                    inside.others[kind] += 1
                continue
            run.whole[kind] += 1
            if ".DAT" not in line and run.state != "inside":
                continue
            if run.state == "before" and first in line:
                run.state, inside = "inside", run
            if run.state != "inside":
                continue
            if last in line:
                run.patterns[threads_apart(run.current)] += 1
                run.state, inside = "after", None
                continue
            run.span[kind] += 1
            # A file's requests run from the first that names it to the
            # first that names the next one.
            if f"F{run.next_file:05d}.DAT" in line:
                run.patterns[threads_apart(run.current)] += 1
                run.current = []
                run.next_file += 1
            run.current.append((tid, token(kind, line)))


def wrapped(tokens, width=108, indent="    "):
    """Repeats folded into name×n, then lines of at most width characters."""
    folded = []
    for item in tokens:
        if folded and folded[-1][0] == item:
            folded[-1][1] += 1
        else:
            folded.append([item, 1])
    words = [name if n == 1 else f"{name}×{n}" for name, n in folded]
    lines, line = [], indent
    for word in words:
        if len(line) + len(word) + 1 > width and line.strip():
            lines.append(line.rstrip())
            line = indent
        line += word + " "
    if line.strip():
        lines.append(line.rstrip())
    return lines


def report(runs, files):
    installers = runs[1:]
    measured = [run for run in installers if run.per_file(files)]
    between = files - 1
    print(f"\n== Wine server requests per installed file (one traced install each, {files} files; the requests of")
    print(f"   the installer's process from its first request naming F{1:05d}.DAT to its first naming "
          f"F{files:05d}.DAT, / {between})")
    for run in installers:
        if run.status != "ok":
            print(f"   {run.label}: the traced install {run.status}")
        elif not run.per_file(files):
            print(f"   {run.label}: no request named both the first and the last file: no figure")
    if not measured:
        return
    kinds = []
    for run in measured:
        for kind, _ in sorted(run.span.items(), key=lambda item: (-item[1], item[0]))[:10]:
            if kind not in kinds:
                kinds.append(kind)
    kinds.sort(key=lambda kind: [-run.span[kind] for run in measured])
    header = "".join(f"{run.label:>19}" for run in measured)
    print(f"  {'request (ten most frequent of each)':<36}{header}")
    for kind in kinds:
        print(f"  {kind:<36}" + "".join(f"{run.span[kind] / between:19.2f}" for run in measured))
    rest = [sum(run.span.values()) - sum(run.span[kind] for kind in kinds) for run in measured]
    print(f"  {'other kinds':<36}" + "".join(f"{value / between:19.2f}" for value in rest))
    totals = {run.label: sum(run.span.values()) / between for run in measured}
    print(f"  {'all requests per file':<36}" + "".join(f"{totals[run.label]:19.2f}" for run in measured))
    print(f"  {'whole process / files':<36}" +
          "".join(f"{sum(run.whole.values()) / files:19.2f}" for run in measured))
    print(f"  {'other processes meanwhile, per file':<36}" +
          "".join(f"{sum(run.others.values()) / between:19.2f}" for run in measured))
    print("  (other processes: all but the installer and the benchmark's watcher)")
    setups = [run for run in measured if run.label.startswith("SETUP")]
    peers = [run for run in measured if not run.label.startswith("SETUP")]
    if setups and peers:
        print("  ratios of requests per file")
        for setup in setups:
            for peer in peers:
                ratio = totals[setup.label] / totals[peer.label] if totals[peer.label] else float("inf")
                print(f"  {setup.label + ' / ' + peer.label:<58} {ratio:.3f}")
    print("\n  each file's requests in order, as most files had them (name×n: n in a row; Fnnnnn.DAT: the file")
    print("  copied; from the first request that names a file to the first that names the next)")
    for run in measured:
        shown = [(p, n) for p, n in run.patterns.most_common(3) if n >= between / 20] or run.patterns.most_common(1)
        print(f"  {run.label}: " + ("one sequence:" if len(run.patterns) == 1 else
                                     f"{len(run.patterns)} different sequences, the commonest:"))
        for pattern, times in shown:
            requests = sum(1 for request in pattern if not request.startswith("|"))
            print(f"   {times} files ({100 * times / between:.0f}%), {requests} requests each:")
            print("\n".join(wrapped(pattern, indent="      ")))


def check():
    """The counting on a made-up trace with known answers: a watcher, an
    installer whose file work runs in a second thread, and another process."""
    import tempfile
    trace = """0024: init_first_thread() = 0 { pid=0020, tid=0024, server_start=0 }
0034: init_first_thread( unix_pid=1, unix_tid=1 )
0034: init_first_thread() = 0 { pid=0030, tid=0034, server_start=0 }
0034: open_key( parent=0000, name=L"\\Registry\\Machine" )
0034: new_thread( process=ffffffff, access=001fffff, flags=00000000 )
0034: new_thread() = 0 { tid=0038, handle=0010 }
0044: init_first_thread() = 0 { pid=0040, tid=0044, server_start=0 }
0038: create_file( access=40100080, objattr={name=L"\\??\\C:\\P\\F00001.DAT"} )
0034: send_message( id=0034, type=6, msg=00000111, wparam=00000001 )
0024: get_message( flags=0 )
0044: select( flags=2 )
0038: close_handle( handle=0004 )
0038: create_file( access=40100080, objattr={name=L"\\??\\C:\\P\\F00002.DAT"} )
0034: send_message( id=0034, type=6, msg=00000111, wparam=00000001 )
0038: close_handle( handle=0004 )
0038: create_file( access=40100080, objattr={name=L"\\??\\C:\\P\\F00003.DAT"} )
0038: close_handle( handle=0004 )
"""
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
        f.write(trace)
    runs = [Run("0020", "ok", "watcher"), Run("0030", "ok", "installer")]
    count(f.name, runs, 3)
    run = runs[1]
    failures = [what for what, good in [
        ("the span holds what both threads asked between the first and the last file",
         run.span == {"create_file": 2, "send_message": 2, "close_handle": 2}),
        ("the whole process, its start included", sum(run.whole.values()) == 11),
        ("another process's request meanwhile, the watcher's left out", run.others == {"select": 1}),
        ("both files alike, each thread's requests apart",
         run.patterns == {("create_file(Fnnnnn.DAT)", "close_handle", "| another thread:",
                           "send_message(0111)"): 2}),
    ] if not good]
    for what in failures:
        print(f"request count check failed: {what}")
    return 1 if failures else 0


def main(argv):
    if len(argv) == 2 and argv[1] == "--check":
        return check()
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    runs, files = [], 0
    with open(argv[2], encoding="utf-8", errors="replace") as listing:
        for line in listing:
            head, _, status = line.rstrip("\r\n").partition("\t")
            fields = head.split(None, 2)
            if len(fields) == 2 and fields[0] == "FILES":
                files = int(fields[1])
            elif len(fields) == 3 and fields[0] == "TRACED":
                runs.append(Run(fields[1], status, fields[2]))
    if files < 2 or len(runs) < 2:
        print("  no traced runs to count")
        return 1
    count(argv[1], runs, files)
    report(runs, files)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
