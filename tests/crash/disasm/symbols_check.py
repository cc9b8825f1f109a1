#!/usr/bin/env python3
"""Runs the stripped symbol probe under Wine and checks every lookup it
prints against addr2line on the unstripped file; then checks the embedded
table line by line against addr2line over all of the program's own code."""

import argparse
import bisect
import os
import re
import struct
import subprocess
import sys


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def demangle(name, cxxfilt):
    # addr2line drops the leading underscore of i686 C++ names before
    # demangling them, and then cannot demangle them.
    if re.match(r"^_*Z[NL0-9]", name) and cxxfilt:
        mangled = "_" + name.lstrip("_")
        out = subprocess.run([cxxfilt, "--no-strip-underscore", mangled], capture_output=True, text=True)
        if out.returncode == 0 and out.stdout.strip() != mangled:
            return out.stdout.strip()
    return name


def addr2line(tool, exe, addresses, cxxfilt):
    out = subprocess.run([tool, "-f", "-C", "-e", exe] + ["0x%x" % a for a in addresses],
                         capture_output=True, text=True, check=True).stdout.splitlines()
    result = []
    for i in range(len(addresses)):
        function, location = out[2 * i], out[2 * i + 1]
        file, _, line = location.rpartition(":")
        line = line.split()[0] if line else ""
        result.append((demangle(function, cxxfilt), file, int(line) if line.isdigit() else 0))
    return result


def same_file(ours, theirs):
    """Ours is relative to the source tree (or as the build named it)."""
    theirs = theirs.replace("\\", "/")
    return bool(ours) and (theirs == ours or theirs.endswith("/" + ours))


def same_function(ours, theirs):
    """addr2line names a function without linkage name (internal linkage)
    by its bare name; the table has the qualified name with parameters."""
    if ours == theirs:
        return True
    if "(" in theirs or not theirs:
        return False
    bare = re.sub(r"\([^()]*\)$", "", ours)
    return bare == theirs or bare.endswith("::" + theirs)


class Table:
    def __init__(self, symtab, image):
        offset, size = image.find_resource(symtab.RT_RCDATA, symtab.RESOURCE_NAME)
        t = image.data[offset:offset + size]
        magic, _version, _total, nf, nl, nfi, _ns = symtab.HEADER.unpack_from(t, 0)
        if magic != symtab.TABLE_MAGIC:
            fail("the resource holds no table")
        fa = symtab.HEADER.size
        fia = fa + 12 * nf
        la = fia + 4 * nfi
        self.strings_at = la + 8 * nl
        self.t = t
        self.functions = [struct.unpack_from("<III", t, fa + 12 * i) for i in range(nf)]
        self.files = [struct.unpack_from("<I", t, fia + 4 * i)[0] for i in range(nfi)]
        self.lines = [struct.unpack_from("<II", t, la + 8 * i) for i in range(nl)]
        self.line_starts = [entry[0] for entry in self.lines]

    def string(self, offset):
        end = self.t.index(b"\0", self.strings_at + offset)
        return self.t[self.strings_at + offset:end].decode("utf-8")

    def line(self, rva):
        j = bisect.bisect_right(self.line_starts, rva) - 1
        if j < 0 or self.lines[j][1] >> 20 == 0xFFF:
            return None, 0
        return self.string(self.files[self.lines[j][1] >> 20]), self.lines[j][1] & 0xFFFFF


def main():
    parser = argparse.ArgumentParser()
    for name in ("exe", "stripped", "run", "addr2line", "cxxfilt", "source", "symtab"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    sys.path.insert(0, os.path.dirname(args.symtab))
    import symtab

    with open(args.stripped, "rb") as f:
        stripped = symtab.Image(f.read())
    debug = [s.name for s in stripped.sections if s.name.startswith(".debug")]
    if debug:
        fail("the stripped copy still has " + ", ".join(debug))
    with open(args.exe, "rb") as f:
        image = symtab.Image(f.read())

    run = subprocess.run([args.run, args.stripped], capture_output=True, text=True, timeout=120)
    print(run.stdout)
    if run.returncode != 0:
        fail("probe exited with %d: %s" % (run.returncode, run.stderr[-2000:]))
    probes = {}
    for text in run.stdout.splitlines():
        label, rva, rest = text.strip().split(" ", 2)
        function, file, line, function_line = rest.split("|")
        probes[label] = (int(rva, 16), function, file, int(line), int(function_line))
    expected_labels = {"alpha", "make", "scaled", "hidden", "main", "inside", "caller", "runtime"}
    if set(probes) != expected_labels:
        fail("probe printed %s" % sorted(probes))

    with open(args.source) as f:
        call_line = next(i + 1 for i, text in enumerate(f) if "// probe: call line" in text)

    base = image.image_base
    labels = sorted(expected_labels - {"runtime"})
    queries = [base + probes[l][0] - (1 if l == "caller" else 0) for l in labels]
    truth = dict(zip(labels, addr2line(args.addr2line, args.exe, queries, args.cxxfilt)))
    errors = []
    for label in labels:
        _rva, function, file, line, function_line = probes[label]
        a_function, a_file, a_line = truth[label]
        if not same_function(function, a_function):
            errors.append("%s: function %r, addr2line %r" % (label, function, a_function))
        if not same_file(file, a_file):
            errors.append("%s: file %r, addr2line %r" % (label, file, a_file))
        if line != a_line:
            errors.append("%s: line %d, addr2line %d" % (label, line, a_line))
        if label not in ("inside", "caller") and function_line != line:
            errors.append("%s: function line %d at the function's start line %d" % (label, function_line, line))
    if probes["caller"][3] != call_line:
        errors.append("caller: line %d, the call is on line %d" % (probes["caller"][3], call_line))
    if probes["caller"][1] != "probe::Widget::Measure(int)":
        errors.append("caller: function %r" % probes["caller"][1])
    if probes["runtime"][1] or probes["runtime"][2]:
        errors.append("runtime code is listed: %r" % (probes["runtime"],))

    # Every byte of every listed function: the same line as addr2line.
    table = Table(symtab, image)
    rvas = [rva for start, end, _ in table.functions for rva in range(start, end)]
    lines = addr2line(args.addr2line, args.exe, [base + r for r in rvas], None)
    wrong = 0
    for rva, (_f, a_file, a_line) in zip(rvas, lines):
        file, line = table.line(rva)
        if file is None and a_line == 0:
            continue
        if file is None or line != a_line or not same_file(file, a_file):
            wrong += 1
            if wrong <= 10:
                errors.append("rva %x: table %s:%s, addr2line %s:%s" % (rva, file, line, a_file, a_line))
    print("%d addresses of %d functions compared, %d differ" % (len(rvas), len(table.functions), wrong))
    if len(table.functions) < 5:
        errors.append("only %d functions listed" % len(table.functions))
    if errors:
        fail("\n  ".join([""] + errors))
    print("OK")


if __name__ == "__main__":
    main()
