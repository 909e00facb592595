#!/usr/bin/env python3
"""The tool beside a server that reads the same file.

A stand-in server reads the accounts in a loop, as a server does: each read
transaction looks up accounts for HOLD milliseconds, then it rests for GAP
milliseconds. Meanwhile the tool adds and deletes an account CHANGES times,
without -w and with -w 5, in rollback-journal mode and in WAL mode. Counts
the changes that failed, and the server's reads that failed ("database is
locked") with no busy timeout and with a 2-second one.

    scripts/beside-server.py [--changes N] [--hold MS] [--gap MS] TOOL
"""

import argparse
import os
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time


def server(path, timeout, hold, gap):
    """Runs until SIGTERM, then prints: reads failed."""
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    db = sqlite3.connect(path, timeout=timeout, isolation_level=None)
    reads = failed = 0
    while not stop:
        reads += 1
        try:
            db.execute("BEGIN")
            db.execute("SELECT count(*) FROM users").fetchall()
            end = time.monotonic() + hold / 1000
            while time.monotonic() < end and not stop:
                db.execute("SELECT password FROM users WHERE nickname = 'user1'").fetchall()
            db.execute("COMMIT")
        except sqlite3.OperationalError:
            failed += 1
            if db.in_transaction:
                db.execute("ROLLBACK")
        time.sleep(gap / 1000)
    print(reads, failed, flush=True)


def measure(tool, work, mode, wait, server_timeout, args):
    path = os.path.join(work, "%s-%s-%s.db" % (mode, wait, server_timeout))
    subprocess.run([tool, path, "create"], check=True)
    db = sqlite3.connect(path)
    db.execute("PRAGMA journal_mode=%s" % mode)
    db.executemany("INSERT INTO users (nickname, password) VALUES (?, ?)",
                   [("user%d" % i, "pw") for i in range(1000)])
    db.commit()
    db.close()
    reader = subprocess.Popen([sys.executable, __file__, "--serve", path, str(server_timeout),
                               str(args.hold), str(args.gap)], stdout=subprocess.PIPE, text=True)
    time.sleep(0.5)
    options = ["-w", str(wait)] if wait else []
    failed = locked = 0
    took = []
    for i in range(args.changes):
        command = ["add", "beside", "pw"] if i % 2 == 0 else ["del", "beside"]
        start = time.monotonic()
        run = subprocess.run([tool] + options + [path] + command, capture_output=True, text=True)
        took.append((time.monotonic() - start) * 1000)
        if run.returncode != 0:
            failed += 1
            locked += "database is locked" in run.stderr
            if i % 2 == 0:  # keep add and del in step
                subprocess.run([tool, "-w", "10", path, "add", "beside", "pw"],
                               capture_output=True)
            else:
                subprocess.run([tool, "-w", "10", path, "del", "beside"], capture_output=True)
    reader.send_signal(signal.SIGTERM)
    reads, reads_failed = map(int, reader.communicate()[0].split())
    took.sort()
    print("%-6s %-6s server timeout %-2s: changes failed %3d of %d (%d locked), median %3.0f ms, "
          "longest %4.0f ms; server reads failed %3d of %d" % (
              mode, "-w %d" % wait if wait else "no -w", "%gs" % server_timeout, failed,
              args.changes, locked, took[len(took) // 2], took[-1], reads_failed, reads))


def main():
    if len(sys.argv) == 6 and sys.argv[1] == "--serve":
        server(sys.argv[2], float(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--changes", type=int, default=200)
    parser.add_argument("--hold", type=float, default=20, help="ms a read transaction lasts")
    parser.add_argument("--gap", type=float, default=5, help="ms between read transactions")
    parser.add_argument("tool")
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    print("server: read transactions of %g ms, %g ms apart; %d changes per line" %
          (args.hold, args.gap, args.changes))
    with tempfile.TemporaryDirectory(prefix="beside-server.") as work:
        for mode in ("delete", "wal"):
            for wait, server_timeout in ((0, 0), (5, 0), (5, 2)):
                measure(tool, work, mode, wait, server_timeout, args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
