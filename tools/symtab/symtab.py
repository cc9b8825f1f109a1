#!/usr/bin/env python3
"""Builds the program's symbol table and patches it into its placeholder.

The linked .exe carries a fixed-size RCDATA resource "QEXSYMBOLS" (made by
`placeholder`). After linking, `embed` reads the DWARF line table and the
symbols of the .exe, builds the compact table that crash reporting reads at
run time (crash/disasm/SymbolTable.h has the layout) and writes it over the
placeholder in the file, so no code address changes. Stripping the .exe
afterwards keeps the resource.

  symtab.py placeholder --size N --output FILE
  symtab.py embed --exe FILE --nm NM [--source-root DIR] [--all-functions]
  symtab.py shrink --exe FILE             (drops the unused tail of the table's
                                          space from a stripped file)
  symtab.py lookup --exe FILE RVA...      (prints what the embedded table says)
"""

import argparse
import os
import re
import struct
import subprocess
import sys

TABLE_MAGIC = b"QEXSYMTB"
PLACEHOLDER_MAGIC = b"QEXSYMBOLS-PLACEHOLDER\0\0"
RESOURCE_NAME = "QEXSYMBOLS"
RT_RCDATA = 10
VERSION = 1
NO_FILE = 0xFFF
MAX_LINE = 0xFFFFF
HEADER = struct.Struct("<8s6I")


class Failure(Exception):
    pass


# --- PE image -------------------------------------------------------------

class Section:
    def __init__(self, name, vaddr, vsize, raw_offset, raw_size, flags):
        self.name, self.vaddr, self.vsize = name, vaddr, vsize
        self.raw_offset, self.raw_size, self.flags = raw_offset, raw_size, flags

    @property
    def executable(self):
        return bool(self.flags & 0x20000000) or bool(self.flags & 0x20)


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise Failure("not a PE image (no MZ header)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise Failure("not a PE image (no PE signature)")
        coff = pe + 4
        (_machine, count, _stamp, symbols_at, symbol_count, optional_size,
         _flags) = struct.unpack_from("<HHIIIHH", data, coff)
        optional = coff + 20
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic == 0x10B:
            self.image_base = struct.unpack_from("<I", data, optional + 28)[0]
            directories = optional + 96
        elif magic == 0x20B:
            self.image_base = struct.unpack_from("<Q", data, optional + 24)[0]
            directories = optional + 112
        else:
            raise Failure("unknown optional header magic 0x%x" % magic)
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        strings = symbols_at + symbol_count * 18 if symbols_at else 0
        self.sections = []
        at = optional + optional_size
        for _ in range(count):
            raw_name = data[at:at + 8].rstrip(b"\0")
            vsize, vaddr, raw_size, raw_offset = struct.unpack_from("<IIII", data, at + 8)
            flags = struct.unpack_from("<I", data, at + 36)[0]
            name = raw_name.decode("latin-1")
            if name.startswith("/") and strings:
                start = strings + int(name[1:])
                name = data[start:data.index(b"\0", start)].decode("latin-1")
            self.sections.append(Section(name, vaddr, vsize, raw_offset, raw_size, flags))
            at += 40

    def section(self, name):
        for section in self.sections:
            if section.name == name:
                return section
        return None

    def section_bytes(self, name):
        section = self.section(name)
        if section is None:
            return None
        size = min(section.vsize or section.raw_size, section.raw_size)
        return self.data[section.raw_offset:section.raw_offset + size]

    def file_offset(self, rva, size):
        for section in self.sections:
            if section.vaddr <= rva and rva + size <= section.vaddr + section.raw_size:
                return section.raw_offset + (rva - section.vaddr)
        raise Failure("RVA 0x%x is not backed by the file" % rva)

    def code_ranges(self):
        return [(s.vaddr, s.vaddr + s.vsize) for s in self.sections if s.executable]

    def resource_leaves(self):
        """File offsets of every resource data entry, and the offsets (from
        the section's start) of every directory table and name string."""
        base = self.file_offset(self.resource_rva, self.resource_size)
        leaves, tables = [], []

        def walk(directory, depth):
            if depth > 3:
                raise Failure("resource tree deeper than type/name/language")
            tables.append(directory)
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if key & 0x80000000:
                    tables.append(key & 0x7FFFFFFF)
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, depth + 1)
                else:
                    tables.append(target)
                    leaves.append(base + target)

        walk(0, 1)
        return base, leaves, tables

    def find_resource(self, type_id, name):
        """File offset and size of the first language of resource type/name."""
        if not self.resource_rva:
            raise Failure("the image has no resources")
        base = self.file_offset(self.resource_rva, self.resource_size)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield key, target

        for key, target in entries(0):
            if key != type_id or not target & 0x80000000:
                continue
            for key2, target2 in entries(target & 0x7FFFFFFF):
                if key2 != name or not target2 & 0x80000000:
                    continue
                for _lang, target3 in entries(target2 & 0x7FFFFFFF):
                    if target3 & 0x80000000:
                        continue
                    rva, size = struct.unpack_from("<II", self.data, base + target3)
                    return self.file_offset(rva, size), size
        raise Failure("resource %s (type %d) not found; is the placeholder linked in?" % (name, type_id))


# --- DWARF line table -----------------------------------------------------

def leb128(data, at, signed):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            if signed and byte & 0x40:
                value -= 1 << shift
            return value, at


def uleb(data, at):
    return leb128(data, at, False)


def sleb(data, at):
    return leb128(data, at, True)


def cstring(data, at):
    end = data.index(b"\0", at)
    return data[at:end].decode("utf-8", "replace"), end + 1


class Row:
    __slots__ = ("address", "file", "line", "end")

    def __init__(self, address, file, line, end):
        self.address, self.file, self.line, self.end = address, file, line, end


def read_form(form, data, at, offset_size, strs, line_strs):
    """One attribute value of a DWARF 5 line header entry."""
    if form == 0x08:  # string
        return cstring(data, at)
    if form in (0x0E, 0x1F):  # strp, line_strp
        offset = int.from_bytes(data[at:at + offset_size], "little")
        pool = strs if form == 0x0E else line_strs
        return (cstring(pool, offset)[0] if pool else ""), at + offset_size
    if form == 0x0F:  # udata
        return uleb(data, at)
    sizes = {0x0B: 1, 0x05: 2, 0x06: 4, 0x07: 8, 0x1E: 16}
    if form in sizes:
        return int.from_bytes(data[at:at + sizes[form]], "little"), at + sizes[form]
    if form == 0x09:  # block
        length, at = uleb(data, at)
        return None, at + length
    raise Failure("unsupported form 0x%x in a line table header" % form)


def join_path(directory, name):
    if not directory or name.startswith("/") or (len(name) > 1 and name[1] == ":"):
        return name
    return directory.rstrip("/") + "/" + name


FIXED_FORM_SIZES = {0x0B: 1, 0x05: 2, 0x06: 4, 0x07: 8, 0x1E: 16, 0x0C: 1, 0x19: 0,
                    0x11: 1, 0x12: 2, 0x13: 4, 0x14: 8, 0x20: 8, 0x25: 1, 0x26: 2,
                    0x27: 3, 0x28: 4, 0x29: 1, 0x2A: 2, 0x2B: 3, 0x2C: 4, 0x21: 0}


def compilation_dirs(image):
    """Line-table offset -> compilation directory, from each unit's first DIE.

    Line tables of DWARF 4 name the primary file relative to it."""
    info = image.section_bytes(".debug_info")
    abbrev = image.section_bytes(".debug_abbrev")
    strs = image.section_bytes(".debug_str")
    line_strs = image.section_bytes(".debug_line_str")
    result = {}
    if info is None or abbrev is None:
        return result
    at = 0
    while at + 11 <= len(info):
        length = struct.unpack_from("<I", info, at)[0]
        offset_size = 4
        start = at + 4
        if length == 0xFFFFFFFF:
            length = struct.unpack_from("<Q", info, start)[0]
            offset_size = 8
            start += 8
        end = start + length
        version = struct.unpack_from("<H", info, start)[0]
        cursor = start + 2
        if version >= 5:
            address_size = info[cursor + 1]
            abbrev_offset = int.from_bytes(info[cursor + 2:cursor + 2 + offset_size], "little")
            cursor += 2 + offset_size
            if info[start + 2] in (2, 6):  # skeleton and type units carry more header
                cursor += 8
        else:
            abbrev_offset = int.from_bytes(info[cursor:cursor + offset_size], "little")
            address_size = info[cursor + offset_size]
            cursor += offset_size + 1
        try:
            code, cursor = uleb(info, cursor)
            # Find the abbreviation (codes are usually in order; walk them).
            a = abbrev_offset
            while True:
                this_code, a = uleb(abbrev, a)
                if this_code == 0:
                    raise Failure("abbreviation not found")
                _tag, a = uleb(abbrev, a)
                a += 1
                attribute_forms = []
                while True:
                    attribute, a = uleb(abbrev, a)
                    form, a = uleb(abbrev, a)
                    constant = None
                    if form == 0x21:
                        constant, a = sleb(abbrev, a)
                    if attribute == 0 and form == 0:
                        break
                    attribute_forms.append((attribute, form, constant))
                if this_code == code:
                    break
            comp_dir = stmt_list = None
            for attribute, form, constant in attribute_forms:
                value = None
                if form == 0x16:  # indirect
                    form, cursor = uleb(info, cursor)
                if form == 0x08:
                    value, cursor = cstring(info, cursor)
                elif form in (0x0E, 0x1F):
                    offset = int.from_bytes(info[cursor:cursor + offset_size], "little")
                    pool = strs if form == 0x0E else line_strs
                    value = cstring(pool, offset)[0] if pool else None
                    cursor += offset_size
                elif form in (0x17, 0x10):  # sec_offset, ref_addr
                    value = int.from_bytes(info[cursor:cursor + offset_size], "little")
                    cursor += offset_size
                elif form == 0x01:
                    cursor += address_size
                elif form in (0x0F, 0x15, 0x1A, 0x1B, 0x22, 0x23):
                    value, cursor = uleb(info, cursor)
                elif form == 0x0D:
                    value, cursor = sleb(info, cursor)
                elif form in FIXED_FORM_SIZES:
                    size = FIXED_FORM_SIZES[form]
                    value = int.from_bytes(info[cursor:cursor + size], "little")
                    cursor += size
                elif form in (0x0A, 0x03, 0x04, 0x09, 0x18):
                    if form == 0x0A:
                        size, cursor = info[cursor], cursor + 1
                    elif form == 0x03:
                        size, cursor = struct.unpack_from("<H", info, cursor)[0], cursor + 2
                    elif form == 0x04:
                        size, cursor = struct.unpack_from("<I", info, cursor)[0], cursor + 4
                    else:
                        size, cursor = uleb(info, cursor)
                    cursor += size
                else:
                    break  # a form we cannot skip: stop reading this DIE
                if attribute == 0x1B and isinstance(value, str):
                    comp_dir = value
                elif attribute == 0x10 and isinstance(value, int):
                    stmt_list = value
            if stmt_list is not None and comp_dir:
                result[stmt_list] = comp_dir
        except (Failure, IndexError, ValueError):
            pass
        at = end
    return result


def line_rows(image):
    """Every row of every line program, as Row objects, in program order."""
    data = image.section_bytes(".debug_line")
    if data is None:
        raise Failure("no .debug_line section: was the program built with -g?")
    strs = image.section_bytes(".debug_str")
    line_strs = image.section_bytes(".debug_line_str")
    comp_dirs = compilation_dirs(image)
    rows = []
    at = 0
    while at + 4 <= len(data):
        comp_dir = comp_dirs.get(at, "")
        length = struct.unpack_from("<I", data, at)[0]
        offset_size = 4
        at += 4
        if length == 0xFFFFFFFF:
            length = struct.unpack_from("<Q", data, at)[0]
            offset_size = 8
            at += 8
        unit_end = at + length
        version = struct.unpack_from("<H", data, at)[0]
        at += 2
        if version >= 5:
            at += 2  # address and segment selector sizes
        header_length = int.from_bytes(data[at:at + offset_size], "little")
        at += offset_size
        program = at + header_length
        min_length = data[at]
        at += 1
        if version >= 4:
            at += 1  # maximum operations per instruction (VLIW only)
        default_stmt = data[at]
        line_base = struct.unpack_from("<b", data, at + 1)[0]
        line_range = data[at + 2]
        opcode_base = data[at + 3]
        at += 4
        lengths = list(data[at:at + opcode_base - 1])
        at += opcode_base - 1

        directories = []
        files = []
        if version >= 5:
            def entry_list(at):
                format_count = data[at]
                at += 1
                formats = []
                for _ in range(format_count):
                    kind, at = uleb(data, at)
                    form, at = uleb(data, at)
                    formats.append((kind, form))
                count, at = uleb(data, at)
                result = []
                for _ in range(count):
                    entry = {}
                    for kind, form in formats:
                        value, at = read_form(form, data, at, offset_size, strs, line_strs)
                        entry[kind] = value
                    result.append(entry)
                return result, at
            dir_entries, at = entry_list(at)
            directories = [e.get(1, "") for e in dir_entries]
            file_entries, at = entry_list(at)
            directories = [join_path(comp_dir, d) for d in directories]
            for e in file_entries:
                index = e.get(2, 0)
                directory = directories[index] if index < len(directories) else ""
                files.append(join_path(directory, e.get(1, "")))
        else:
            directories = [comp_dir]
            while data[at]:
                name, at = cstring(data, at)
                directories.append(join_path(comp_dir, name))
            at += 1
            files = [""]  # file numbers start at 1
            while data[at]:
                name, at = cstring(data, at)
                index, at = uleb(data, at)
                _, at = uleb(data, at)
                _, at = uleb(data, at)
                directory = directories[index] if index < len(directories) else ""
                files.append(join_path(directory, name))
            at += 1

        at = program
        address, file, line = 0, 1, 1
        while at < unit_end:
            opcode = data[at]
            at += 1
            if opcode >= opcode_base:
                adjusted = opcode - opcode_base
                address += (adjusted // line_range) * min_length
                line += line_base + adjusted % line_range
                rows.append(Row(address, files[file] if file < len(files) else "", line, False))
            elif opcode == 0:
                size, at = uleb(data, at)
                sub = data[at]
                if sub == 1:
                    rows.append(Row(address, "", 0, True))
                    address, file, line = 0, 1, 1
                elif sub == 2:
                    address = int.from_bytes(data[at + 1:at + size], "little")
                at += size
            elif opcode == 1:
                rows.append(Row(address, files[file] if file < len(files) else "", line, False))
            elif opcode == 2:
                advance, at = uleb(data, at)
                address += advance * min_length
            elif opcode == 3:
                advance, at = sleb(data, at)
                line += advance
            elif opcode == 4:
                file, at = uleb(data, at)
            elif opcode == 8:
                address += ((255 - opcode_base) // line_range) * min_length
            elif opcode == 9:
                address += struct.unpack_from("<H", data, at)[0]
                at += 2
            else:
                for _ in range(lengths[opcode - 1]):
                    _, at = uleb(data, at)
        at = unit_end
        del default_stmt
    return rows


# --- functions -------------------------------------------------------------

def functions(nm, exe, image):
    """(start VA, end VA, demangled name) of every function symbol, sorted.

    A function ends where the next symbol of its code section begins (the
    image has no symbol sizes), or at the end of the section."""
    output = subprocess.run([nm, "-C", "--defined-only", exe], check=True,
                            capture_output=True, text=True).stdout
    base = image.image_base
    ranges = [(base + start, base + end) for start, end in image.code_ranges()]

    def section_end(address):
        for start, end in ranges:
            if start <= address < end:
                return end
        return None

    boundaries = set()
    named = {}
    # Optimiser clones ("f(int) [clone .isra.0]", "main.cold") are parts of
    # the function they came from: report them by its name.
    clone = re.compile(r"( \[clone [^\]]*\])+$|(\.(cold|part\.\d+|isra\.\d+|constprop\.\d+))+$")
    rank = {"T": 0, "W": 1, "t": 2, "w": 3}
    for text in output.splitlines():
        parts = text.split(" ", 2)
        if len(parts) != 3 or len(parts[1]) != 1:
            continue
        try:
            address = int(parts[0], 16)
        except ValueError:
            continue
        if section_end(address) is None:
            continue
        boundaries.add(address)
        kind, name = parts[1], clone.sub("", parts[2])
        if kind not in rank or name.startswith("."):
            continue
        best = named.get(address)
        if best is None or rank[kind] < best[0]:
            named[address] = (rank[kind], name)
    for _, end in ranges:
        boundaries.add(end)
    ordered = sorted(boundaries)
    result = []
    for i, address in enumerate(ordered):
        if address in named:
            end = min(ordered[i + 1] if i + 1 < len(ordered) else address + 1, section_end(address))
            result.append((address, end, named[address][1]))
    return result


# --- the table --------------------------------------------------------------

def unit_name(path, source_root):
    path = os.path.normpath(path).replace("\\", "/") if path else path
    if source_root:
        root = os.path.normpath(source_root).replace("\\", "/").rstrip("/") + "/"
        if path.startswith(root):
            return path[len(root):], True
        return path, False
    return path, True


def effective_rows(rows, image):
    """Row per address in the order lookups see them: sorted by address;
    within a sequence the last row at an address wins (the ones before it
    cover no bytes), but a sequence's end never hides the row that starts
    another sequence at the same address."""
    base = image.image_base
    ranges = [(base + start, base + end) for start, end in image.code_ranges()]

    def in_code(address):
        return any(start <= address < end for start, end in ranges)

    # Sequences whose start lies outside the image were dropped by the linker.
    sequences = []
    current = []
    for row in rows:
        current.append(row)
        if row.end:
            if current and in_code(current[0].address):
                sequences.append(current)
            current = []
    by_address = {}
    for number, sequence in enumerate(sequences):
        for row in sequence:
            previous = by_address.get(row.address)
            if (previous is not None and row.end and not previous[1].end
                    and previous[0] != number):
                continue
            by_address[row.address] = (number, row)
    return [by_address[a][1] for a in sorted(by_address)]


def build_table(image, rows, function_list, source_root, all_functions):
    rows = effective_rows(rows, image)
    base = image.image_base
    own = set()
    kept = []
    addresses = [row.address for row in rows]
    import bisect
    for start, end, name in function_list:
        if all_functions:
            kept.append((start, end, name))
            continue
        i = bisect.bisect_right(addresses, start) - 1
        j = bisect.bisect_left(addresses, end)
        for row in rows[max(i, 0):j]:
            if not row.end and row.address < end and unit_name(row.file, source_root)[1]:
                kept.append((start, end, name))
                break

    # Lines only inside kept functions, each range closed by a marker.
    table_rows = []
    for start, end, _name in kept:
        i = bisect.bisect_right(addresses, start) - 1
        if i >= 0 and not rows[i].end:
            table_rows.append((start, rows[i].file, rows[i].line))
        elif i >= 0:
            table_rows.append((start, None, 0))
        k = bisect.bisect_right(addresses, start)
        while k < len(rows) and rows[k].address < end:
            row = rows[k]
            table_rows.append((row.address, None if row.end else row.file, row.line))
            k += 1
        table_rows.append((end, None, 0))
    # A function's start wins over the previous one's end marker.
    merged = {}
    for address, file, line in table_rows:
        if address in merged and file is None:
            continue
        merged[address] = (file, line)
    compact = []
    for address in sorted(merged):
        file, line = merged[address]
        if compact and compact[-1][1] == file and compact[-1][2] == line:
            continue
        compact.append((address, file, line))

    strings = bytearray()
    offsets = {}

    def intern(text):
        if text not in offsets:
            offsets[text] = len(strings)
            strings.extend(text.encode("utf-8") + b"\0")
        return offsets[text]

    file_index = {}
    file_offsets = []
    for _, file, _ in compact:
        if file is not None and file not in file_index:
            file_index[file] = len(file_offsets)
            file_offsets.append(intern(unit_name(file, source_root)[0]))
    if len(file_offsets) >= NO_FILE:
        raise Failure("too many source files for the table (%d)" % len(file_offsets))

    function_bytes = bytearray()
    for start, end, name in kept:
        function_bytes += struct.pack("<III", start - base, end - base, intern(name))
    line_bytes = bytearray()
    for address, file, line in compact:
        index = NO_FILE if file is None else file_index[file]
        line_bytes += struct.pack("<II", address - base, index << 20 | min(max(line, 0), MAX_LINE))
    if not strings:
        strings = bytearray(b"\0")
    file_bytes = b"".join(struct.pack("<I", offset) for offset in file_offsets)
    total = HEADER.size + len(function_bytes) + len(file_bytes) + len(line_bytes) + len(strings)
    header = HEADER.pack(TABLE_MAGIC, VERSION, total, len(kept), len(compact), len(file_offsets), len(strings))
    return header + function_bytes + file_bytes + line_bytes + bytes(strings)


# --- reading a table back (for tests and by hand) ---------------------------

def lookup(table, rva):
    magic, version, total, nfunc, nline, nfile, nstr = HEADER.unpack_from(table, 0)
    if magic != TABLE_MAGIC:
        raise Failure("no symbol table in the resource (placeholder not filled?)")
    functions_at = HEADER.size
    files_at = functions_at + 12 * nfunc
    lines_at = files_at + 4 * nfile
    strings_at = lines_at + 8 * nline

    def string(offset):
        end = table.index(b"\0", strings_at + offset)
        return table[strings_at + offset:end].decode("utf-8")

    function = None
    for i in range(nfunc):
        start, end, name = struct.unpack_from("<III", table, functions_at + 12 * i)
        if start <= rva < end:
            function = string(name)
    file = line = None
    for i in range(nline):
        address, file_line = struct.unpack_from("<II", table, lines_at + 8 * i)
        if address > rva:
            break
        index = file_line >> 20
        if index == NO_FILE:
            file = line = None
        else:
            file = string(struct.unpack_from("<I", table, files_at + 4 * index)[0])
            line = file_line & MAX_LINE
    return function, file, line


# --- commands ---------------------------------------------------------------

def command_placeholder(args):
    if args.size < len(PLACEHOLDER_MAGIC) + 4:
        raise Failure("placeholder size %d is too small" % args.size)
    data = PLACEHOLDER_MAGIC + struct.pack("<I", args.size)
    data += b"\0" * (args.size - len(data))
    with open(args.output, "wb") as out:
        out.write(data)


def command_embed(args):
    with open(args.exe, "rb") as source:
        data = bytearray(source.read())
    image = Image(bytes(data))
    offset, size = image.find_resource(RT_RCDATA, RESOURCE_NAME)
    current = bytes(data[offset:offset + len(PLACEHOLDER_MAGIC)])
    if current != PLACEHOLDER_MAGIC and current[:8] != TABLE_MAGIC:
        raise Failure("resource %s is neither a placeholder nor a table" % RESOURCE_NAME)
    table = build_table(image, line_rows(image), functions(args.nm, args.exe, image),
                        args.source_root, args.all_functions)
    if len(table) > size:
        raise Failure("symbol table of %d bytes does not fit the %d-byte placeholder; "
                      "raise SIZE in qex_embed_symbols" % (len(table), size))
    # In place: the file keeps its mode, and nothing else in it changes.
    with open(args.exe, "r+b") as out:
        out.seek(offset)
        out.write(table + b"\0" * (size - len(table)))
    if args.verbose:
        print("symtab: %s: %d of %d bytes" % (os.path.basename(args.exe), len(table), size))


def align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def pe_checksum(data, checksum_at):
    total = 0
    for at in range(0, len(data) - 1, 2):
        if checksum_at <= at < checksum_at + 4:
            continue
        total += data[at] | data[at + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    if len(data) % 2:
        total += data[-1]
    total = (total & 0xFFFF) + (total >> 16)
    total = (total + (total >> 16)) & 0xFFFF
    return total + len(data)


def command_shrink(args):
    """The placeholder is sized for the largest table; the table written
    over it is usually smaller, and the rest is zeros. In a stripped file,
    moves the resources that follow the placeholder down to the table's end
    and drops the zero tail from the file. The section keeps its size in
    memory (the loader fills the tail with zeros), so no address moves."""
    with open(args.exe, "rb") as source:
        data = bytearray(source.read())
    image = Image(bytes(data))
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    coff = pe + 4
    count, = struct.unpack_from("<H", data, coff + 2)
    symbols_at, symbol_count = struct.unpack_from("<II", data, coff + 8)
    optional_size, = struct.unpack_from("<H", data, coff + 16)
    optional = coff + 20
    directories = optional + (96 if image.image_base < 1 << 32 and
                              struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
    if symbol_count:
        raise Failure("strip the file first (it still has symbols)")
    # Data that the file locates by file offset would not follow the move.
    for index, what in ((4, "a certificate"), (6, "a debug directory")):
        if struct.unpack_from("<II", data, directories + 8 * index) != (0, 0):
            raise Failure("the file has %s; not shrinking it" % what)
    file_alignment, = struct.unpack_from("<I", data, optional + 36)
    checksum_at = optional + 64

    rsrc = image.section(".rsrc")
    if rsrc is None:
        raise Failure("no .rsrc section")
    offset, size = image.find_resource(RT_RCDATA, RESOURCE_NAME)
    magic, _version, total = HEADER.unpack_from(data, offset)[:3]
    if magic != TABLE_MAGIC or total > size:
        raise Failure("resource %s holds no table; embed it first" % RESOURCE_NAME)
    used = align(total, 16)
    moved_from = offset + size
    rsrc_end = rsrc.raw_offset + rsrc.raw_size
    delta = moved_from - (offset + used)
    base, leaves, tables = image.resource_leaves()
    if base != rsrc.raw_offset or any(base + t >= offset for t in tables if t):
        raise Failure("unexpected resource layout: directories after the table")
    for leaf in leaves:
        rva, length = struct.unpack_from("<II", data, leaf)
        at = image.file_offset(rva, length)
        if at == offset:
            struct.pack_into("<I", data, leaf + 4, used)
        elif at >= moved_from:
            struct.pack_into("<I", data, leaf, rva - delta)
        elif at + length > offset:
            raise Failure("a resource overlaps the table's space")
    tail = bytes(data[moved_from:rsrc_end])
    data[offset + used:offset + used + len(tail)] = tail
    new_raw = align(offset + used + len(tail) - rsrc.raw_offset, file_alignment)
    cut = rsrc.raw_size - new_raw
    if cut <= 0:
        return
    data[offset + used + len(tail):rsrc.raw_offset + new_raw] = \
        bytes(rsrc.raw_offset + new_raw - (offset + used + len(tail)))
    del data[rsrc.raw_offset + new_raw:rsrc_end]
    struct.pack_into("<I", data, directories + 2 * 8 + 4, offset + used + len(tail) - rsrc.raw_offset)
    at = optional + optional_size
    for _ in range(count):
        raw_size, raw_offset = struct.unpack_from("<II", data, at + 16)
        if raw_offset == rsrc.raw_offset:
            struct.pack_into("<I", data, at + 16, new_raw)
        elif raw_offset > rsrc.raw_offset:
            struct.pack_into("<I", data, at + 20, raw_offset - cut)
        at += 40
    # A stripped file keeps an empty string table after the last section.
    if symbols_at > rsrc.raw_offset:
        struct.pack_into("<I", data, coff + 8, symbols_at - cut)
    if struct.unpack_from("<I", data, checksum_at)[0]:
        struct.pack_into("<I", data, checksum_at, pe_checksum(data, checksum_at))
    with open(args.exe, "r+b") as out:
        out.write(data)
        out.truncate()
    if args.verbose:
        print("symtab: %s: %d bytes dropped" % (os.path.basename(args.exe), cut))


def command_lookup(args):
    with open(args.exe, "rb") as source:
        image = Image(source.read())
    offset, size = image.find_resource(RT_RCDATA, RESOURCE_NAME)
    table = image.data[offset:offset + size]
    for text in args.rva:
        function, file, line = lookup(table, int(text, 0))
        print("%s|%s|%s" % (function or "?", file or "?", line or 0))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("placeholder")
    p.add_argument("--size", type=int, required=True)
    p.add_argument("--output", required=True)
    p = commands.add_parser("embed")
    p.add_argument("--exe", required=True)
    p.add_argument("--nm", required=True)
    p.add_argument("--source-root")
    p.add_argument("--all-functions", action="store_true")
    p.add_argument("--verbose", action="store_true")
    p = commands.add_parser("shrink")
    p.add_argument("--exe", required=True)
    p.add_argument("--verbose", action="store_true")
    p = commands.add_parser("lookup")
    p.add_argument("--exe", required=True)
    p.add_argument("rva", nargs="+")
    args = parser.parse_args()
    try:
        {"placeholder": command_placeholder, "embed": command_embed,
         "shrink": command_shrink, "lookup": command_lookup}[args.command](args)
    except (Failure, subprocess.CalledProcessError, OSError) as failure:
        print("symtab: error: %s" % failure, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
