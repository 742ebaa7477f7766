#!/usr/bin/env python3
"""Generates platform/hive/upcase_table.cc: Windows' upper-case table for the registry.

Usage: python3 platform/hive/gen_upcase_table.py > platform/hive/upcase_table.cc
(Python 3.11+, standard library only; the output does not depend on the Unicode version of
unicodedata as long as it is 5.1 or later, because of step 3 below.)

Where the data comes from
-------------------------
The registry upper-cases names with RtlUpcaseUnicodeChar, i.e. the upper-case table of l_intl.nls.
Microsoft publishes that table as "Windows 8 Upper Case Mapping Table.txt" ([MSDN-UCMT/Win8],
referenced by [MS-UCODEREF] 3.1.5.3 "Mapping UTF-16 Strings to Upper Case"; the current edition of
MS-UCODEREF still cites the Windows 8 table). The Linux kernel carries a converted copy of it in
fs/smb/client/winucase.c. Wine's tools/make_unicode builds its l_intl.nls the same way as step 2.

That table is exactly what these rules give (verified against the published table, see
WINDOWS8_TABLE below; the script refuses to emit a table that differs from it):
 1. Unicode's simple (one-to-one) upper-case mapping of UnicodeData.txt, BMP only; no
    SpecialCasing.txt, no locale (so no Turkish i rules).
 2. Only mappings that round-trip: c -> U is kept only if the simple lower-case of U is c again
    ("remove_linguistic_mappings" in Wine's make_unicode). This is what leaves unchanged, among
    others: U+00B5 micro sign (-> U+039C, whose lower case is U+03BC), U+0131 dotless i (-> I),
    U+017F long s (-> S), U+01C5/U+01C8/U+01CB/U+01F2 titlecase digraphs, U+03C2 final sigma,
    U+03D0 U+03D1 U+03D5 U+03D6 U+03F0 U+03F1 U+03F5 Greek symbol variants, U+0345, U+1E9B,
    U+1FBE, U+1C80..U+1C88. U+00DF sharp s has no simple mapping and stays too. Upper-case
    letters (U+0130 dotted capital I included) always map to themselves.
 3. Frozen at Unicode 5.1: Windows' table has not taken up any case pair that involves a
    character assigned after Unicode 5.1 (NOT_IN_UNICODE_5_1 below), e.g. Georgian Mkhedruli ->
    Mtavruli (11.0), Cherokee small letters (8.0), U+0525 and later Cyrillic (5.2+), U+A78D and
    later Latin Extended-D (6.0+). Python's unicodedata has no character ages, so the ranges
    involved are listed by hand.
Surrogate code units (U+D800..U+DFFF) and everything else without a mapping stay unchanged.
"""

import sys
import unicodedata

# Code points assigned after Unicode 5.1 that take part in a Unicode 14 case pair in the BMP.
# A mapping c -> U is dropped when c or U falls in one of these ranges.
NOT_IN_UNICODE_5_1 = [
    (0x037F, 0x037F, "7.0 Greek capital yot"),
    (0x0524, 0x052F, "5.2-7.0 Cyrillic supplement"),
    (0x10C7, 0x10C7, "6.1 Georgian capital yn"),
    (0x10CD, 0x10CD, "6.1 Georgian capital aen"),
    (0x13F5, 0x13FD, "8.0 Cherokee"),
    (0x1C90, 0x1CBF, "11.0 Georgian Mtavruli"),
    (0x2C2F, 0x2C2F, "14.0 Glagolitic"),
    (0x2C5F, 0x2C5F, "14.0 Glagolitic"),
    (0x2C70, 0x2C70, "5.2 Latin capital turned alpha"),
    (0x2C7E, 0x2C7F, "5.2 Latin capital s/z with swash tail"),
    (0x2CEB, 0x2CEE, "5.2 Coptic"),
    (0x2CF2, 0x2CF3, "6.1 Coptic"),
    (0x2D27, 0x2D27, "6.1 Georgian small yn"),
    (0x2D2D, 0x2D2D, "6.1 Georgian small aen"),
    (0xA660, 0xA661, "6.0 Cyrillic reversed tse"),
    (0xA698, 0xA69B, "7.0 Cyrillic"),
    (0xA78D, 0xA7F7, "6.0-14.0 Latin Extended-D"),
    (0xAB30, 0xABBF, "7.0-8.0 Latin Extended-E, Cherokee small letters"),
]

# Microsoft's published table ([MSDN-UCMT/Win8]) as runs (first, last, step, delta): every
# step-th code unit from first to last maps to itself + delta; all others map to themselves.
WINDOWS8_TABLE = [
    (0x61, 0x7A, 1, -32), (0xE0, 0xF6, 1, -32), (0xF8, 0xFE, 1, -32), (0xFF, 0xFF, 1, 0x79),
    (0x101, 0x12F, 2, -1), (0x133, 0x137, 2, -1), (0x13A, 0x148, 2, -1), (0x14B, 0x177, 2, -1),
    (0x17A, 0x17E, 2, -1), (0x180, 0x180, 1, 0xC3), (0x183, 0x185, 2, -1), (0x188, 0x188, 1, -1),
    (0x18C, 0x18C, 1, -1), (0x192, 0x192, 1, -1), (0x195, 0x195, 1, 0x61), (0x199, 0x199, 1, -1),
    (0x19A, 0x19A, 1, 0xA3), (0x19E, 0x19E, 1, 0x82), (0x1A1, 0x1A5, 2, -1), (0x1A8, 0x1A8, 1, -1),
    (0x1AD, 0x1AD, 1, -1), (0x1B0, 0x1B0, 1, -1), (0x1B4, 0x1B6, 2, -1), (0x1B9, 0x1B9, 1, -1),
    (0x1BD, 0x1BD, 1, -1), (0x1BF, 0x1BF, 1, 0x38), (0x1C6, 0x1CC, 3, -2), (0x1CE, 0x1DC, 2, -1),
    (0x1DD, 0x1DD, 1, -0x4F), (0x1DF, 0x1EF, 2, -1), (0x1F3, 0x1F3, 1, -2), (0x1F5, 0x1F5, 1, -1),
    (0x1F9, 0x21F, 2, -1), (0x223, 0x233, 2, -1), (0x23C, 0x23C, 1, -1), (0x242, 0x242, 1, -1),
    (0x247, 0x24F, 2, -1), (0x250, 0x250, 1, 0x2A1F), (0x251, 0x251, 1, 0x2A1C),
    (0x253, 0x253, 1, -0xD2), (0x254, 0x254, 1, -0xCE), (0x256, 0x257, 1, -0xCD),
    (0x259, 0x259, 1, -0xCA), (0x25B, 0x25B, 1, -0xCB), (0x260, 0x260, 1, -0xCD),
    (0x263, 0x263, 1, -0xCF), (0x268, 0x268, 1, -0xD1), (0x269, 0x269, 1, -0xD3),
    (0x26B, 0x26B, 1, 0x29F7), (0x26F, 0x26F, 1, -0xD3), (0x271, 0x271, 1, 0x29FD),
    (0x272, 0x272, 1, -0xD5), (0x275, 0x275, 1, -0xD6), (0x27D, 0x27D, 1, 0x29E7),
    (0x280, 0x280, 1, -0xDA), (0x283, 0x283, 1, -0xDA), (0x288, 0x288, 1, -0xDA),
    (0x289, 0x289, 1, -0x45), (0x28A, 0x28B, 1, -0xD9), (0x28C, 0x28C, 1, -0x47),
    (0x292, 0x292, 1, -0xDB), (0x371, 0x373, 2, -1), (0x377, 0x377, 1, -1), (0x37B, 0x37D, 1, 0x82),
    (0x3AC, 0x3AC, 1, -0x26), (0x3AD, 0x3AF, 1, -0x25), (0x3B1, 0x3C1, 1, -32),
    (0x3C3, 0x3CB, 1, -32), (0x3CC, 0x3CC, 1, -0x40), (0x3CD, 0x3CE, 1, -0x3F), (0x3D7, 0x3D7, 1, -8),
    (0x3D9, 0x3EF, 2, -1), (0x3F2, 0x3F2, 1, 7), (0x3F8, 0x3F8, 1, -1), (0x3FB, 0x3FB, 1, -1),
    (0x430, 0x44F, 1, -32), (0x450, 0x45F, 1, -80), (0x461, 0x481, 2, -1), (0x48B, 0x4BF, 2, -1),
    (0x4C2, 0x4CE, 2, -1), (0x4CF, 0x4CF, 1, -15), (0x4D1, 0x523, 2, -1), (0x561, 0x586, 1, -48),
    (0x1D79, 0x1D79, 1, 0x8A04), (0x1D7D, 0x1D7D, 1, 0xEE6), (0x1E01, 0x1E95, 2, -1),
    (0x1EA1, 0x1EFF, 2, -1), (0x1F00, 0x1F07, 1, 8), (0x1F10, 0x1F15, 1, 8), (0x1F20, 0x1F27, 1, 8),
    (0x1F30, 0x1F37, 1, 8), (0x1F40, 0x1F45, 1, 8), (0x1F51, 0x1F57, 2, 8), (0x1F60, 0x1F67, 1, 8),
    (0x1F70, 0x1F71, 1, 74), (0x1F72, 0x1F75, 1, 86), (0x1F76, 0x1F77, 1, 100),
    (0x1F78, 0x1F79, 1, 128), (0x1F7A, 0x1F7B, 1, 112), (0x1F7C, 0x1F7D, 1, 126),
    (0x1F80, 0x1F87, 1, 8), (0x1F90, 0x1F97, 1, 8), (0x1FA0, 0x1FA7, 1, 8), (0x1FB0, 0x1FB1, 1, 8),
    (0x1FB3, 0x1FB3, 1, 9), (0x1FC3, 0x1FC3, 1, 9), (0x1FD0, 0x1FD1, 1, 8), (0x1FE0, 0x1FE1, 1, 8),
    (0x1FE5, 0x1FE5, 1, 7), (0x1FF3, 0x1FF3, 1, 9), (0x214E, 0x214E, 1, -0x1C),
    (0x2170, 0x217F, 1, -16), (0x2184, 0x2184, 1, -1), (0x24D0, 0x24E9, 1, -26),
    (0x2C30, 0x2C5E, 1, -48), (0x2C61, 0x2C61, 1, -1), (0x2C65, 0x2C65, 1, -0x2A2B),
    (0x2C66, 0x2C66, 1, -0x2A28), (0x2C68, 0x2C6C, 2, -1), (0x2C73, 0x2C76, 3, -1),
    (0x2C81, 0x2CE3, 2, -1), (0x2D00, 0x2D25, 1, -0x1C60), (0xA641, 0xA65F, 2, -1),
    (0xA663, 0xA66D, 2, -1), (0xA681, 0xA697, 2, -1), (0xA723, 0xA72F, 2, -1),
    (0xA733, 0xA76F, 2, -1), (0xA77A, 0xA77C, 2, -1), (0xA77F, 0xA787, 2, -1),
    (0xA78C, 0xA78C, 1, -1), (0xFF41, 0xFF5A, 1, -32),
]

BLOCK_BITS = 7  # low bits of a code unit index into a block of 128 deltas
BLOCK = 1 << BLOCK_BITS


def simple_lower(u):
    s = chr(u).lower()  # full mapping; in the BMP it differs from the simple one only for U+0130
    return ord(s) if len(s) == 1 else None


def simple_upper(c):
    s = chr(c).upper()
    if len(s) == 1:
        return ord(s)
    # Full upper case is longer (e.g. U+1F80 -> U+1F08 U+0399); the simple mapping, where there
    # is one, is the titlecase letter (U+1F88), which is also the simple titlecase mapping.
    t = chr(c).title()
    return ord(t) if len(t) == 1 else None


def after_5_1(cp):
    return any(lo <= cp <= hi for lo, hi, _ in NOT_IN_UNICODE_5_1)


def build():
    table = list(range(0x10000))
    for upper in range(0x10000):
        if 0xD800 <= upper <= 0xDFFF:
            continue
        lower = simple_lower(upper)
        if lower is None or lower == upper:
            continue
        if simple_upper(lower) != upper:  # not round-trip: linguistic only
            continue
        if after_5_1(lower) or after_5_1(upper):
            continue
        table[lower] = upper
    return table


def windows8_table():
    table = list(range(0x10000))
    for first, last, step, delta in WINDOWS8_TABLE:
        for c in range(first, last + 1, step):
            table[c] = c + delta
    return table


def emit(table):
    deltas = [(table[c] - c) & 0xFFFF for c in range(0x10000)]
    blocks, index = [], []
    for start in range(0, 0x10000, BLOCK):
        block = tuple(deltas[start:start + BLOCK])
        if block not in blocks:
            blocks.append(block)
        index.append(blocks.index(block) * BLOCK)
    assert len(blocks) * BLOCK <= 0x10000
    out = []
    w = out.append
    w("// Windows' upper-case table for registry names (RtlUpcaseUnicodeChar, l_intl.nls).")
    w("// GENERATED by platform/hive/gen_upcase_table.py - do not edit; see that script for the")
    w("// source of the data (Microsoft's \"Windows 8 Upper Case Mapping Table\") and the rules.")
    w("// %d code units change." % sum(1 for c in range(0x10000) if table[c] != c))
    w('#include "platform/hive/upcase_table.h"')
    w("")
    w("#include <cstdint>")
    w("")
    w("namespace hm::hive {")
    w("namespace {")
    w("")
    w("// Two-level table: kBlockOffset[c >> %d] is the start of c's block in kDelta, and" % BLOCK_BITS)
    w("// upper(c) = c + kDelta[...] modulo 2^16. Identical blocks are stored once.")
    w("constexpr uint16_t kBlockOffset[%d] = {" % len(index))
    for i in range(0, len(index), 12):
        w("    " + " ".join("0x%04x," % v for v in index[i:i + 12]))
    w("};")
    w("")
    w("constexpr uint16_t kDelta[%d] = {" % (len(blocks) * BLOCK))
    for b, block in enumerate(blocks):
        firsts = [i * BLOCK for i, v in enumerate(index) if v == b * BLOCK]
        label = ("U+%04X" % firsts[0]) if len(firsts) == 1 else ("%d blocks" % len(firsts))
        w("    // block %d (%s)" % (b, label))
        for i in range(0, BLOCK, 12):
            w("    " + " ".join("0x%04x," % v for v in block[i:i + 12]))
    w("};")
    w("")
    w("}  // namespace")
    w("")
    w("char16_t UpcaseTableLookup(char16_t c) {")
    w("  return static_cast<char16_t>(")
    w("      c + kDelta[kBlockOffset[c >> %d] + (c & 0x%x)]);" % (BLOCK_BITS, BLOCK - 1))
    w("}")
    w("")
    w("}  // namespace hm::hive")
    return "\n".join(out) + "\n"


def main():
    table = build()
    reference = windows8_table()
    diff = [c for c in range(0x10000) if table[c] != reference[c]]
    if diff:
        sys.exit("generated table differs from Windows 8 table at: " +
                 " ".join("U+%04X(%04X/%04X)" % (c, table[c], reference[c]) for c in diff[:40]))
    sys.stdout.write(emit(table))


if __name__ == "__main__":
    main()
