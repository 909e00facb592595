#!/usr/bin/env python3
"""Damaged account files against the commands that change accounts.

Makes account files (the tool's own table, 20 accounts on one page each for
the table and its index, and 3,000 accounts on many pages below an interior
page), damages copies of them the ways SQLite's own corruption tests damage
files (header fields, page types, cell pointers and cell counts, child
pointers, an index out of step with its table), keeps those that SQLite's
integrity check finds damaged, and runs every changing command of each TOOL
on a fresh copy of each. For each tool it counts the changes that exited 0
and, of those, the ones after which the table could no longer be read
(`SELECT * FROM users` fails, where it worked before the change).

    scripts/corrupt-files.py [--keep DIR] TOOL [TOOL...]

--keep DIR also writes the damaged files into DIR (which must not exist).
Needs python3 with its sqlite3 module; takes about a minute per tool.
"""

import argparse
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile

PAGE = 4096
SMALL, LARGE = 20, 3000
# The account each command changes, per base file: one in the middle.
TARGET = {SMALL: "user10", LARGE: "user1500"}


def header_offset(page):
    return 100 if page == 1 else 0


def page_base(page):
    return (page - 1) * PAGE


class BTreePage:
    """The header and cell pointers of one b-tree page of a file's bytes."""

    def __init__(self, data, page):
        self.page = page
        self.at = page_base(page) + header_offset(page)
        self.kind = data[self.at]
        self.interior = self.kind in (2, 5)
        self.cells = int.from_bytes(data[self.at + 3:self.at + 5], "big")
        self.pointers_at = self.at + (12 if self.interior else 8)
        self.pointers = [
            int.from_bytes(data[self.pointers_at + 2 * i:self.pointers_at + 2 * i + 2], "big")
            for i in range(self.cells)
        ]

    def children(self, data):
        if not self.interior:
            return []
        base = page_base(self.page)
        kids = [int.from_bytes(data[base + p:base + p + 4], "big") for p in self.pointers]
        kids.append(int.from_bytes(data[self.at + 8:self.at + 12], "big"))
        return kids


def walk(data, root):
    """Every page of the b-tree at `root`, as BTreePage, root first."""
    pages, todo = [], [root]
    while todo:
        page = BTreePage(data, todo.pop(0))
        pages.append(page)
        todo.extend(page.children(data))
    return pages


def put16(data, at, value):
    data[at:at + 2] = value.to_bytes(2, "big")


def put32(data, at, value):
    data[at:at + 4] = value.to_bytes(4, "big")


def read_varint(data, at):
    value = 0
    for i in range(9):
        byte = data[at + i]
        if i == 8:
            return (value << 8) | byte, at + 9
        value = (value << 7) | (byte & 0x7F)
        if byte < 0x80:
            return value, at + i + 1
    raise AssertionError


def record_fields(data, at):
    """(start, length) of each field of the record that starts at `at`."""
    header_size, cursor = read_varint(data, at)
    body = at + header_size
    fields = []
    while cursor < at + header_size:
        serial, cursor = read_varint(data, cursor)
        if serial >= 12:
            length = (serial - 12) // 2
        else:
            length = [0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0][serial]
        fields.append((body, length))
        body += length
    return fields


def leaf_record(data, page, cell):
    """Where the record of cell `cell` of the leaf `page` starts."""
    at = page_base(page.page) + page.pointers[cell]
    _, at = read_varint(data, at)  # payload size
    if page.kind == 13:
        _, at = read_varint(data, at)  # rowid
    return at


def target_rowid(nickname):
    return int(nickname[len("user"):])


def field(data, page, cell, number):
    start, length = record_fields(data, leaf_record(data, page, cell))[number]
    return bytes(data[start:start + length])


def make_base(tool, directory, accounts):
    path = os.path.join(directory, "base-%d.db" % accounts)
    subprocess.run([tool, path, "create"], check=True)
    db = sqlite3.connect(path)
    db.executemany("INSERT INTO users (nickname, password, credentials) VALUES (?, ?, ?)",
                   [("user%d" % i, "password%d" % i, "user") for i in range(1, accounts + 1)])
    db.commit()
    roots = dict(db.execute("SELECT type, rootpage FROM sqlite_master"))
    db.close()
    return path, roots["table"], roots["index"]


def damages(data, table_root, index_root, accounts):
    """(name, damaged bytes) for each damage of one base file."""
    out = []

    def damaged(name, change):
        copy = bytearray(data)
        change(copy)
        out.append(("%d-%s" % (accounts, name), bytes(copy)))

    pages = len(data) // PAGE
    table = walk(data, table_root)
    index = walk(data, index_root)
    # The leaves that hold the account the commands change, and so the page
    # pointers on the way to them: a damage the commands never meet tells
    # nothing.
    target = TARGET[accounts].encode()
    table_leaf = next(p for p in table if not p.interior and any(
        read_varint(data, read_varint(data, page_base(p.page) + at)[1])[0] == target_rowid(target)
        for at in p.pointers))
    index_leaf = next(p for p in index if not p.interior and any(
        field(data, p, cell, 0) == target for cell in range(p.cells)))
    schema = BTreePage(data, 1)

    # Header fields.
    fields = [
        ("page-size-1024", 16, 2, 1024), ("page-size-not-power-of-two", 16, 2, 0x0300),
        ("reserved-bytes", 20, 1, 64), ("payload-fraction", 21, 1, 60),
        ("write-version", 18, 1, 3), ("read-version", 19, 1, 3),
        ("size-2-pages", 28, 4, 2), ("size-beyond-file", 28, 4, pages + 50),
        ("freelist-trunk-is-table-root", 32, 4, table_root),
        ("freelist-trunk-is-index-leaf", 32, 4, index_leaf.page),
        ("freelist-count-without-trunk", 36, 4, 1000),
        ("schema-format-5", 44, 4, 5), ("text-encoding-invalid", 56, 4, 7),
        ("largest-root-page", 52, 4, 3),
    ]
    for name, at, size, value in fields:
        def change(copy, at=at, size=size, value=value):
            copy[at:at + size] = value.to_bytes(size, "big")
            if at == 32:
                put32(copy, 36, 1)
        damaged("header-" + name, change)

    # Page types: each b-tree page kind replaced by another and by zero.
    named = [("schema", schema), ("table-root", table[0]), ("index-root", index[0])]
    if accounts == LARGE:
        named += [("table-leaf", table_leaf), ("index-leaf", index_leaf)]
    other_kind = {13: 10, 10: 13, 5: 2, 2: 5}
    other_level = {13: 5, 5: 13, 10: 2, 2: 10}
    for name, page in named:
        for label, kind in (("kind", other_kind[page.kind]), ("level", other_level[page.kind]),
                            ("zero", 0)):
            damaged("type-%s-%s" % (label, name),
                    lambda copy, page=page, kind=kind: copy.__setitem__(page.at, kind))

    # Cell pointers, cell counts and the other fields of a page header.
    leaves = [("schema", schema), ("table-leaf", table_leaf), ("index-leaf", index_leaf)]
    for name, page in leaves:
        changes = {
            "pointer-into-header": lambda c, p=page: put16(c, p.pointers_at, 0),
            "pointer-beyond-page": lambda c, p=page: put16(c, p.pointers_at, PAGE + 10),
            "pointer-duplicate": lambda c, p=page: put16(c, p.pointers_at, p.pointers[1]),
            "pointer-inside-cell": lambda c, p=page: put16(c, p.pointers_at, p.pointers[0] + 3),
            "count-plus-5": lambda c, p=page: put16(c, p.at + 3, p.cells + 5),
            "count-zero": lambda c, p=page: put16(c, p.at + 3, 0),
            "content-start-low": lambda c, p=page: put16(c, p.at + 5, 0x10),
            "freeblock-into-cell": lambda c, p=page: put16(c, p.at + 1, p.pointers[0]),
            "fragmented-bytes": lambda c, p=page: c.__setitem__(p.at + 7, 200),
            "payload-size-larger": lambda c, p=page: c.__setitem__(
                page_base(p.page) + p.pointers[0], 0x7F),
        }
        for label, change in changes.items():
            damaged("cell-%s-%s" % (label, name), change)

    # Child pointers of the interior pages: the one on the way to the
    # account changed, and the right-most one (new rows of the table go
    # there).
    if accounts == LARGE:
        for name, tree, leaf, other in (("table", table, table_leaf, index),
                                        ("index", index, index_leaf, table)):
            root = tree[0]
            on_path = root.children(data).index(leaf.page)
            path_at = (page_base(root.page) + root.pointers[on_path] if on_path < root.cells
                       else root.at + 8)
            wrong = {"to-page-1": 1, "to-itself": root.page, "to-zero": 0,
                     "beyond-file": pages + 10, "into-other-tree": other[-1].page}
            for label, value in wrong.items():
                damaged("child-right-%s-%s" % (label, name),
                        lambda c, r=root, v=value: put32(c, r.at + 8, v))
                damaged("child-on-path-%s-%s" % (label, name),
                        lambda c, a=path_at, v=value: put32(c, a, v))

    # The index out of step with its table: a key or a rowid changed on one side.
    def nickname_byte(copy, page, cell):
        start, length = record_fields(copy, leaf_record(copy, page, cell))[0]
        copy[start + length - 1] = ord("Z")

    in_table = next(cell for cell in range(table_leaf.cells)
                    if field(data, table_leaf, cell, 0) == target)
    in_index = next(cell for cell in range(index_leaf.cells)
                    if field(data, index_leaf, cell, 0) == target)
    damaged("index-table-key-changed", lambda c: nickname_byte(c, table_leaf, in_table))
    damaged("index-index-key-changed", lambda c: nickname_byte(c, index_leaf, in_index))

    def index_rowid(copy):
        start, length = record_fields(copy, leaf_record(copy, index_leaf, in_index))[1]
        copy[start + length - 1] ^= 0x01

    damaged("index-rowid-changed", index_rowid)
    return out


def out_of_step(base, directory, accounts):
    """Copies of `base` whose table has rows taken out or added behind its
    index's back (the index hidden from the schema meanwhile)."""
    made = []
    for label, change in (("rows-deleted", "DELETE FROM users WHERE rowid % 7 = 3 OR nickname "
                                           "IN ('user10', 'user1500')"),
                          ("rows-added", "INSERT INTO users (nickname, password) "
                                         "VALUES ('ghost1', 'x'), ('ghost2', 'y')")):
        path = os.path.join(directory, "step.db")
        shutil.copyfile(base, path)
        db = sqlite3.connect(path, isolation_level=None)
        db.execute("PRAGMA writable_schema=ON")
        table_sql, index_row = db.execute("SELECT sql FROM sqlite_master WHERE type = 'table'"
                                          ).fetchone()[0], db.execute(
            "SELECT type, name, tbl_name, rootpage, sql FROM sqlite_master WHERE type = 'index'"
        ).fetchone()
        db.execute("UPDATE sqlite_master SET sql = ? WHERE type = 'table'",
                   (table_sql.replace("NOT NULL UNIQUE", "NOT NULL"),))
        db.execute("DELETE FROM sqlite_master WHERE type = 'index'")
        db.close()
        db = sqlite3.connect(path, isolation_level=None)
        db.execute(change)
        db.execute("PRAGMA writable_schema=ON")
        db.execute("UPDATE sqlite_master SET sql = ? WHERE type = 'table'", (table_sql,))
        db.execute("INSERT INTO sqlite_master VALUES (?, ?, ?, ?, ?)", index_row)
        db.close()
        with open(path, "rb") as f:
            made.append(("%d-index-%s" % (accounts, label), f.read()))
        os.remove(path)
    return made


def readable(path):
    try:
        db = sqlite3.connect(path)
        try:
            db.execute("SELECT * FROM users").fetchall()
        finally:
            db.close()
        return True
    except sqlite3.DatabaseError:
        return False


def damaged_per_sqlite(path):
    try:
        db = sqlite3.connect(path)
        try:
            return db.execute("PRAGMA integrity_check").fetchall() != [("ok",)]
        finally:
            db.close()
    except sqlite3.DatabaseError:
        return True


def commands(accounts):
    target = TARGET[accounts]
    lines = "".join("imported%d\tpw%d\n" % (i, i) for i in range(40))
    return [("add", ["add", "newcomer", "pw", "op"], None), ("del", ["del", target], None),
            ("mod", ["mod", target, "admin"], None), ("pass", ["pass", target, "new"], None),
            ("import", ["import"], lines)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--keep", metavar="DIR")
    parser.add_argument("tools", metavar="TOOL", nargs="+")
    args = parser.parse_args()
    tools = [os.path.abspath(t) for t in args.tools]

    work = tempfile.mkdtemp(prefix="corrupt-files.")
    try:
        files = []
        for accounts in (SMALL, LARGE):
            base, table_root, index_root = make_base(tools[0], work, accounts)
            with open(base, "rb") as f:
                data = f.read()
            made = damages(data, table_root, index_root, accounts)
            made += out_of_step(base, work, accounts)
            files += [(name, content, accounts) for name, content in made]

        corrupt = []
        probe = os.path.join(work, "probe.db")
        for name, content, accounts in files:
            with open(probe, "wb") as f:
                f.write(content)
            if damaged_per_sqlite(probe):
                corrupt.append((name, content, accounts, readable(probe)))
        if args.keep:
            os.makedirs(args.keep)
            for name, content, _, _ in corrupt:
                with open(os.path.join(args.keep, name + ".db"), "wb") as f:
                    f.write(content)
        print("%d damaged files made, %d of them found damaged by PRAGMA integrity_check "
              "(the rest left out), %d readable by SELECT * FROM users" %
              (len(files), len(corrupt), sum(1 for c in corrupt if c[3])))

        for tool in tools:
            succeeded = {}
            unreadable = {}
            other = 0
            runs = 0
            for name, content, accounts, was_readable in corrupt:
                for label, arguments, stdin in commands(accounts):
                    path = os.path.join(work, "run.db")
                    with open(path, "wb") as f:
                        f.write(content)
                    runs += 1
                    try:
                        status = subprocess.run([tool, path] + arguments, input=stdin, text=True,
                                                capture_output=True, timeout=60).returncode
                    except subprocess.TimeoutExpired:
                        status = "timeout"
                    if status not in (0, 1):
                        other += 1
                        print("  %s %s: exit %s" % (name, label, status))
                    if status == 0:
                        succeeded[label] = succeeded.get(label, 0) + 1
                        if was_readable and not readable(path):
                            unreadable[label] = unreadable.get(label, 0) + 1
                    for leftover in (path, path + "-journal"):
                        if os.path.exists(leftover):
                            os.remove(leftover)
            by_command = ", ".join("%s %d" % (label, succeeded.get(label, 0))
                                   for label, _, _ in commands(SMALL))
            lost = ", ".join("%s %d" % (label, unreadable.get(label, 0))
                             for label, _, _ in commands(SMALL))
            print("%s: %d runs; exit 0 in %d (%s); table unreadable after %d of those (%s); "
                  "other exits %d" % (tool, runs, sum(succeeded.values()), by_command,
                                      sum(unreadable.values()), lost, other))
    finally:
        shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
