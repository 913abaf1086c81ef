#!/usr/bin/env python3
"""Checks that an executable's unwind table lets an exception pass through every function.

usage: check-unwind-tables.py EXECUTABLE...

Fails (status 1) when an executable has
  - a zero-length FDE that starts where a real (non-empty) FDE starts: the unwinder's binary
    search over .eh_frame_hdr may land on the empty one and end the program with abort()
    instead of reaching the handler (GCC emits such FDEs for empty cold parts of split
    functions, and LLD 14 keeps them where GNU ld drops them); or
  - an address inside a function (an STT_FUNC symbol of non-zero size in .text) that no FDE
    covers.
Status 2 for a file that cannot be read as a 64-bit little-endian ELF executable.
Reads .eh_frame, .eh_frame_hdr and .symtab itself; the only tool it runs is c++filt, for the
names in its messages.
"""
import bisect
import shutil
import struct
import subprocess
import sys

DW_EH_PE_omit = 0xFF
DW_EH_PE_pcrel = 0x10
DW_EH_PE_datarel = 0x30


class Malformed(Exception):
    pass


class Reader:
    """Reads the fields of an unwind table from a section held in memory at address `base`."""

    def __init__(self, data, base):
        self.data = data
        self.base = base

    def u(self, fmt, at):
        size = struct.calcsize(fmt)
        if at < 0 or at + size > len(self.data):
            raise Malformed("a field at 0x%x runs past its section" % (self.base + at))
        return struct.unpack_from(fmt, self.data, at)[0], at + size

    def uleb(self, at):
        return self.leb(at, False)

    def sleb(self, at):
        return self.leb(at, True)

    def leb(self, at, signed):
        value = shift = 0
        while True:
            byte, at = self.u("<B", at)
            value |= (byte & 0x7F) << shift
            shift += 7
            if byte < 0x80:
                if signed and byte & 0x40:
                    value -= 1 << shift
                return value, at

    def cstring(self, at):
        end = self.data.find(b"\0", at)
        if end < 0:
            raise Malformed("an unterminated string at 0x%x" % (self.base + at))
        return self.data[at:end].decode("latin-1"), end + 1

    def encoded(self, encoding, at, datarel_base=0, applied=True):
        """Reads a pointer in a DW_EH_PE encoding; `applied` False reads the bare value (a length)."""
        if encoding == DW_EH_PE_omit:
            return None, at
        field = at
        kind = encoding & 0x0F
        formats = {0x00: "<Q", 0x02: "<H", 0x03: "<I", 0x04: "<Q", 0x0A: "<h", 0x0B: "<i", 0x0C: "<q"}
        if kind == 0x01:
            value, at = self.uleb(at)
        elif kind == 0x09:
            value, at = self.sleb(at)
        elif kind in formats:
            value, at = self.u(formats[kind], at)
        else:
            raise Malformed("pointer encoding 0x%02x at 0x%x" % (encoding, self.base + at))
        if not applied:
            return value, at
        application = encoding & 0x70
        if application == DW_EH_PE_pcrel:
            value += self.base + field
        elif application == DW_EH_PE_datarel:
            value += datarel_base
        elif application != 0:
            raise Malformed("pointer application 0x%02x at 0x%x" % (encoding, self.base + field))
        return value & 0xFFFFFFFFFFFFFFFF, at


class Elf:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:4] != b"\x7fELF" or len(d) < 64:
            raise Malformed("not an ELF file")
        if d[4] != 2 or d[5] != 1:
            raise Malformed("not a 64-bit little-endian ELF file")
        (shoff,) = struct.unpack_from("<Q", d, 0x28)
        shentsize, shnum, shstrndx = struct.unpack_from("<HHH", d, 0x3A)
        if shoff == 0 or shentsize != 64 or shoff + shnum * 64 > len(d):
            raise Malformed("no section headers")
        self.sections = []
        for i in range(shnum):
            name, kind, flags, addr, offset, size, link, info, align, entsize = struct.unpack_from(
                "<IIQQQQIIQQ", d, shoff + i * 64)
            self.sections.append(dict(name=name, type=kind, addr=addr, offset=offset, size=size,
                                      link=link, entsize=entsize, index=i))
        names = self.sections[shstrndx]
        for s in self.sections:
            s["name"] = self.cstr(names["offset"] + s["name"])

    def cstr(self, at):
        end = self.data.find(b"\0", at)
        return self.data[at:end].decode("latin-1")

    def section(self, name):
        for s in self.sections:
            if s["name"] == name:
                return s
        return None

    def contents(self, s):
        if s["type"] == 8:  # SHT_NOBITS
            return b""
        return self.data[s["offset"]:s["offset"] + s["size"]]

    def functions(self):
        """(start, size, name) of every STT_FUNC symbol of non-zero size defined in .text."""
        symtab = self.section(".symtab")
        text = self.section(".text")
        if symtab is None or text is None:
            return None
        strtab = self.sections[symtab["link"]]
        out = []
        raw = self.contents(symtab)
        for name, info, other, shndx, value, size in struct.iter_unpack("<IBBHQQ", raw):
            if info & 0xF == 2 and size != 0 and shndx == text["index"]:
                out.append((value, size, name))
        return [(v, s, self.cstr(strtab["offset"] + n)) for v, s, n in out]


def read_fdes(elf):
    """Every FDE of .eh_frame as (pc_begin, pc_range)."""
    section = elf.section(".eh_frame")
    if section is None:
        return []
    r = Reader(elf.contents(section), section["addr"])
    cies = {}
    fdes = []
    at = 0
    while at + 4 <= len(r.data):
        start = at
        length, at = r.u("<I", at)
        if length == 0:  # the terminator
            break
        if length == 0xFFFFFFFF:
            length, at = r.u("<Q", at)
        body = at
        end = body + length
        if end > len(r.data):
            raise Malformed("a record at 0x%x runs past .eh_frame" % (r.base + start))
        cie_id, at = r.u("<I", at)
        if cie_id == 0:
            cies[start] = parse_cie(r, at)
        else:
            cie_at = body - cie_id
            if cie_at not in cies:
                if cie_at < 0:
                    raise Malformed("the FDE at 0x%x names no CIE" % (r.base + start))
                cies[cie_at] = parse_cie_at(r, cie_at)
            encoding = cies[cie_at]
            begin, at = r.encoded(encoding, at)
            size, at = r.encoded(encoding & 0x0F, at, applied=False)
            fdes.append((begin, size))
        at = end
    return fdes


def parse_cie_at(r, at):
    length, at = r.u("<I", at)
    if length == 0xFFFFFFFF:
        length, at = r.u("<Q", at)
    cie_id, at = r.u("<I", at)
    if cie_id != 0:
        raise Malformed("an FDE points at 0x%x, which is no CIE" % (r.base + at))
    return parse_cie(r, at)


def parse_cie(r, at):
    """The FDE pointer encoding a CIE gives its FDEs (absolute pointers when it names none)."""
    version, at = r.u("<B", at)
    augmentation, at = r.cstring(at)
    _, at = r.uleb(at)  # code alignment
    _, at = r.sleb(at)  # data alignment
    if version == 1:
        _, at = r.u("<B", at)
    else:
        _, at = r.uleb(at)
    encoding = 0x00
    if augmentation.startswith("z"):
        _, at = r.uleb(at)
        for letter in augmentation[1:]:
            if letter == "R":
                encoding, at = r.u("<B", at)
            elif letter == "L":
                _, at = r.u("<B", at)
            elif letter == "P":
                personality, at = r.u("<B", at)
                _, at = r.encoded(personality, at, applied=False)
            elif letter in "SB":
                pass
            else:
                raise Malformed("CIE augmentation %r" % augmentation)
    return encoding


def read_hdr_count(elf):
    """The number of entries of .eh_frame_hdr's search table, or None without one."""
    section = elf.section(".eh_frame_hdr")
    if section is None:
        return None
    r = Reader(elf.contents(section), section["addr"])
    version, at = r.u("<B", 0)
    if version != 1:
        raise Malformed(".eh_frame_hdr version %d" % version)
    frame_enc, at = r.u("<B", at)
    count_enc, at = r.u("<B", at)
    table_enc, at = r.u("<B", at)
    _, at = r.encoded(frame_enc, at, datarel_base=r.base)
    if count_enc == DW_EH_PE_omit or table_enc == DW_EH_PE_omit:
        return None
    count, _ = r.encoded(count_enc, at, datarel_base=r.base)
    return count


def demangle(names):
    if not names or not shutil.which("c++filt"):
        return names
    out = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True, text=True)
    lines = out.stdout.splitlines()
    return lines if len(lines) == len(names) else names


def check(path, limit=10):
    """The faults of one executable's unwind table, as lines of text."""
    elf = Elf(path)
    fdes = read_fdes(elf)
    functions = elf.functions() or []
    starts = sorted(functions)
    names = [f[2] for f in starts]
    keys = [f[0] for f in starts]

    def owner(address):
        i = bisect.bisect_right(keys, address) - 1
        if i >= 0 and address < starts[i][0] + starts[i][1]:
            return i
        return None

    faults = []
    real_starts = {begin for begin, size in fdes if size > 0}
    shadows = sorted({begin for begin, size in fdes if size == 0 and begin in real_starts})
    for address in shadows:
        faults.append(("a zero-length FDE at 0x%x shadows the real FDE that starts there" % address,
                       owner(address)))

    # The FDEs' union, merged, against each function's range.
    covered = []
    for begin, size in sorted(fdes):
        if size == 0:
            continue
        if covered and begin <= covered[-1][1]:
            covered[-1][1] = max(covered[-1][1], begin + size)
        else:
            covered.append([begin, begin + size])
    covered_starts = [c[0] for c in covered]
    for i, (start, size, _) in enumerate(starts):
        j = bisect.bisect_right(covered_starts, start) - 1
        if j >= 0 and start + size <= covered[j][1]:
            continue
        gap = covered[j][1] if j >= 0 and start < covered[j][1] else start
        faults.append(("no FDE covers 0x%x (function at 0x%x, %d bytes)" % (gap, start, size), i))

    count = read_hdr_count(elf)
    if count is not None and count != len(fdes):
        faults.append((".eh_frame_hdr lists %d FDEs, .eh_frame holds %d" % (count, len(fdes)), None))

    lines = []
    shown = faults[:limit]
    who = demangle([names[i] for _, i in shown if i is not None])
    for text, i in shown:
        lines.append(text + (" in %s" % who.pop(0) if i is not None else ""))
    if len(faults) > limit:
        lines.append("... and %d more" % (len(faults) - limit))
    summary = "%d FDEs, %d functions in .text" % (len(fdes), len(starts))
    if not functions:
        summary += " (no symbol table: function coverage unchecked)"
    return lines, summary


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    status = 0
    for path in argv[1:]:
        try:
            faults, summary = check(path)
        except (OSError, Malformed, struct.error) as e:
            print("%s: cannot read its unwind table: %s" % (path, e), file=sys.stderr)
            status = max(status, 2)
            continue
        if faults:
            print("%s: unsound unwind table (%s):" % (path, summary))
            for line in faults:
                print("  " + line)
            status = max(status, 1)
        else:
            print("%s: sound (%s)" % (path, summary))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
