#!/usr/bin/env python3
"""The tests of one i686 test program in one start of it, under emulation.

    one_start.py WINE_RUN PROGRAM RESULTS FILTER [TEST_LEFT_OUT ...]

Runs the tests that the GoogleTest FILTER names, and writes RESULTS,
{test: {"passed": bool, "output": text}}, from which tools/wine-run.sh
answers each test's CTest test. qemu-user ends, or stops, a 32-bit Wine
process that the wineserver interrupts with a signal once the process has
made a thread, as the test programs have: a start that ends before its last
test goes on in a new start from the test that was running, and a test that
two starts ended in is a failure. Exit status 0 when every test has a result.
"""
import json
import os
import re
import signal
import subprocess
import sys
import threading

wine_run, exe, results, wanted, *left_out = sys.argv[1:]
QUIET_LIMIT = 900  # seconds without a line of output: stopped, not slow

# A process the emulator loses ends at once instead of waiting, unseen, for
# the debugger that Wine starts for it, itself a minute of emulated start.
env = dict(os.environ)
env["WINEDLLOVERRIDES"] = ";".join(filter(None, [env.get("WINEDLLOVERRIDES"), "winedbg.exe=d"]))

done = {}
ended_in = {}
starts = 0
while True:
    starts += 1
    program = subprocess.Popen([wine_run, exe, "--gtest_filter=" + wanted + "-" + ":".join([*done, *left_out])],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace",
                               start_new_session=True, env=env)
    running, output, finished = None, [], False
    while True:
        watchdog = threading.Timer(QUIET_LIMIT, os.killpg, (program.pid, signal.SIGKILL))
        watchdog.start()
        line = program.stdout.readline()
        watchdog.cancel()
        if not line:
            break
        sys.stdout.write(line)
        started = re.match(r"\[ RUN      \] (\S+)", line)
        result = re.match(r"\[ +(OK|FAILED|SKIPPED) +\] (\S+) \(\d+ ms\)", line)
        if started:
            running, output = started.group(1), []
        elif result and result.group(2) == running:
            done[running] = {"passed": result.group(1) != "FAILED", "output": "".join(output)}
            running = None
        elif re.match(r"\[==========\] \d+ tests? from .* ran\.", line):
            finished = True
        else:
            output.append(line)
    status = program.wait()
    if finished:
        break
    if running is None:
        print(f"one_start: start {starts} ended (status {status}) outside any test", flush=True)
        if starts > 2 + 2 * len(ended_in):
            sys.exit(1)
        continue
    ended_in[running] = ended_in.get(running, 0) + 1
    again = "the test fails, the rest go on" if ended_in[running] > 1 else "the test runs again"
    print(f"one_start: start {starts} ended (status {status}) in {running}; {again} in a new start", flush=True)
    if ended_in[running] > 1:
        done[running] = {"passed": False, "output": "".join(output) + f"the process ended (status {status}) "
                         "while this test ran, in two starts\n"}

with open(results, "w") as f:
    json.dump(done, f, indent=1, ensure_ascii=False)
print(f"one_start: {len(done)} tests in {starts} start(s)")
