"""Sizes of the symbols in an ELF shared object's dynamic symbol table.

ctypes resolves a symbol's address but not its size; the metadata arrays of
the library have no terminator, so their sizes are read from .dynsym here.
"""

import struct
from typing import Dict

_SHT_DYNSYM = 11


class ElfError(Exception):
    pass


def dynamic_symbol_sizes(path: str) -> Dict[str, int]:
    """Maps every defined dynamic symbol of the ELF file at ``path`` to its size."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"\x7fELF" or len(data) < 64:
        raise ElfError(f"{path} is not an ELF file")
    ei_class, ei_data = data[4], data[5]
    if ei_class not in (1, 2) or ei_data not in (1, 2):
        raise ElfError(f"{path}: unsupported ELF class or byte order")
    end = "<" if ei_data == 1 else ">"
    wide = ei_class == 2

    def unpack(fmt: str, offset: int):
        size = struct.calcsize(end + fmt)
        if offset < 0 or offset + size > len(data):
            raise ElfError(f"{path}: truncated ELF structure at offset {offset}")
        return struct.unpack_from(end + fmt, data, offset)

    if wide:
        shoff, = unpack("Q", 0x28)
        shentsize, shnum = unpack("HH", 0x3A)
        section_fmt = "IIQQQQIIQQ"   # name type flags addr offset size link info align entsize
        symbol_fmt = "IBBHQQ"        # name info other shndx value size
    else:
        shoff, = unpack("I", 0x20)
        shentsize, shnum = unpack("HH", 0x2E)
        section_fmt = "IIIIIIIIII"
        symbol_fmt = "IIIBBH"        # name value size info other shndx
    if shoff == 0 or shnum == 0:
        raise ElfError(f"{path} has no section headers")

    sections = [unpack(section_fmt, shoff + i * shentsize) for i in range(shnum)]
    for sec in sections:
        if sec[1] != _SHT_DYNSYM:
            continue
        sym_off, sym_size, link, entsize = sec[4], sec[5], sec[6], sec[9]
        if link >= len(sections) or entsize == 0:
            raise ElfError(f"{path}: malformed .dynsym")
        str_off, str_size = sections[link][4], sections[link][5]
        if str_off + str_size > len(data):
            raise ElfError(f"{path}: truncated .dynstr")
        sizes = {}
        for i in range(1, sym_size // entsize):
            fields = unpack(symbol_fmt, sym_off + i * entsize)
            if wide:
                name_off, _, _, shndx, _, size = fields
            else:
                name_off, _, size, _, _, shndx = fields
            if shndx == 0 or name_off >= str_size:   # undefined, or no name
                continue
            stop = data.find(b"\x00", str_off + name_off, str_off + str_size)
            if stop < 0:
                raise ElfError(f"{path}: unterminated symbol name")
            sizes[data[str_off + name_off:stop].decode("ascii", "replace")] = size
        return sizes
    raise ElfError(f"{path} has no dynamic symbol table")
