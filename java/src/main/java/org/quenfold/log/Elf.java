package org.quenfold.log;

import java.io.File;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.HashMap;
import java.util.Map;

/**
 * Sizes of the symbols in an ELF shared object's dynamic symbol table. JNA
 * resolves a symbol's address but not its size, and the metadata arrays have
 * no terminator, so their sizes are read from .dynsym here.
 */
final class Elf {
    private Elf() {}

    private static final int SHT_DYNSYM = 11;

    static Map<String, Long> dynamicSymbolSizes(File file) throws IOException {
        ByteBuffer data = ByteBuffer.wrap(Files.readAllBytes(file.toPath()));
        if (data.limit() < 64 || data.getInt(0) != 0x7f454c46) {
            throw new IOException(file + " is not an ELF file");
        }
        int elfClass = data.get(4);
        int order = data.get(5);
        if ((elfClass != 1 && elfClass != 2) || (order != 1 && order != 2)) {
            throw new IOException(file + ": unsupported ELF class or byte order");
        }
        data.order(order == 1 ? ByteOrder.LITTLE_ENDIAN : ByteOrder.BIG_ENDIAN);
        boolean wide = elfClass == 2;
        try {
            long shoff = wide ? data.getLong(0x28) : Integer.toUnsignedLong(data.getInt(0x20));
            int shentsize = Short.toUnsignedInt(data.getShort(wide ? 0x3A : 0x2E));
            int shnum = Short.toUnsignedInt(data.getShort(wide ? 0x3C : 0x30));
            if (shoff == 0 || shnum == 0) {
                throw new IOException(file + " has no section headers");
            }
            for (int i = 0; i < shnum; i++) {
                int sec = Math.toIntExact(shoff + (long) i * shentsize);
                if (data.getInt(sec + 4) != SHT_DYNSYM) {
                    continue;
                }
                long symOff = wide ? data.getLong(sec + 0x18) : Integer.toUnsignedLong(data.getInt(sec + 0x10));
                long symSize = wide ? data.getLong(sec + 0x20) : Integer.toUnsignedLong(data.getInt(sec + 0x14));
                int link = data.getInt(sec + (wide ? 0x28 : 0x18));
                long entsize = wide ? data.getLong(sec + 0x38) : Integer.toUnsignedLong(data.getInt(sec + 0x24));
                if (link < 0 || link >= shnum || entsize == 0) {
                    throw new IOException(file + ": malformed .dynsym");
                }
                int str = Math.toIntExact(shoff + (long) link * shentsize);
                long strOff = wide ? data.getLong(str + 0x18) : Integer.toUnsignedLong(data.getInt(str + 0x10));
                long strSize = wide ? data.getLong(str + 0x20) : Integer.toUnsignedLong(data.getInt(str + 0x14));
                if (strOff + strSize > data.limit()) {
                    throw new IOException(file + ": truncated .dynstr");
                }
                Map<String, Long> sizes = new HashMap<>();
                for (long k = 1; k < symSize / entsize; k++) {
                    int sym = Math.toIntExact(symOff + k * entsize);
                    long nameOff = Integer.toUnsignedLong(data.getInt(sym));
                    int shndx = Short.toUnsignedInt(data.getShort(sym + (wide ? 6 : 14)));
                    long size = wide ? data.getLong(sym + 16) : Integer.toUnsignedLong(data.getInt(sym + 8));
                    if (shndx == 0 || nameOff >= strSize) {
                        continue;
                    }
                    int start = Math.toIntExact(strOff + nameOff);
                    int end = start;
                    while (end < strOff + strSize && data.get(end) != 0) {
                        end++;
                    }
                    if (end == strOff + strSize) {
                        throw new IOException(file + ": unterminated symbol name");
                    }
                    byte[] name = new byte[end - start];
                    data.get(start, name);
                    sizes.put(new String(name, StandardCharsets.US_ASCII), size);
                }
                return sizes;
            }
        } catch (IndexOutOfBoundsException | ArithmeticException e) {
            throw new IOException(file + ": truncated ELF structure");
        }
        throw new IOException(file + " has no dynamic symbol table");
    }
}
