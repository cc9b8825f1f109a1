#!/usr/bin/env python3
"""Checks a program as it ships: small enough, no DWARF or symbols left,
statically linked, its crash-report symbol table filled in.

  shipped_check.py --exe FILE --objdump TOOL --symtab tools/symtab/symtab.py
                   [--max-bytes N]
"""

import argparse
import importlib.util
import os
import re
import subprocess
import sys

# DLLs of the cross toolchain's runtime: a static link needs none of them.
RUNTIME_DLL = re.compile(r"^(lib.*|zlib1)\.dll$", re.IGNORECASE)


def load_symtab(path):
    found = importlib.util.spec_from_file_location("symtab", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--symtab", required=True)
    parser.add_argument("--max-bytes", type=int, default=2 * 1024 * 1024)
    args = parser.parse_args()

    errors = []
    size = os.path.getsize(args.exe)
    if size > args.max_bytes:
        errors.append("%d bytes, more than %d" % (size, args.max_bytes))

    headers = subprocess.run([args.objdump, "-h", args.exe], check=True,
                             capture_output=True, text=True).stdout
    sections = re.findall(r"^\s*\d+\s+(\S+)\s", headers, re.MULTILINE)
    if not sections:
        errors.append("objdump listed no sections")
    debug = [s for s in sections if s.startswith((".debug", ".zdebug"))]
    if debug:
        errors.append("debug sections left: " + " ".join(debug))

    imports = subprocess.run([args.objdump, "-p", args.exe], check=True,
                             capture_output=True, text=True).stdout
    dlls = re.findall(r"DLL Name:\s*(\S+)", imports)
    if not dlls:
        errors.append("objdump listed no imported DLLs")
    runtime = [d for d in dlls if RUNTIME_DLL.match(d)]
    if runtime:
        errors.append("needs runtime DLLs beside it: " + " ".join(runtime))

    symtab = load_symtab(args.symtab)
    with open(args.exe, "rb") as f:
        image = symtab.Image(f.read())
    offset, length = image.find_resource(symtab.RT_RCDATA, symtab.RESOURCE_NAME)
    head = image.data[offset:offset + len(symtab.TABLE_MAGIC)]
    if head != symtab.TABLE_MAGIC:
        errors.append("the crash-report symbol table was not written (starts %r)" % head)

    # NumberOfSymbols of the COFF header: 0 once stripped.
    pe = int.from_bytes(image.data[0x3C:0x40], "little")
    coff_symbols = int.from_bytes(image.data[pe + 16:pe + 20], "little")
    if coff_symbols:
        errors.append("%d COFF symbols are left" % coff_symbols)

    print("%s: %d bytes, %d sections, imports %s" % (args.exe, size, len(sections), " ".join(dlls)))
    for error in errors:
        print("FAIL: " + error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
