#!/usr/bin/env python3
"""Writes a C++ header naming the size and FNV-1a digest of the built library,
which the kernel checks before it lets the platform's type-library loader
read the file (that loader trusts the offsets it finds, and a damaged file
would fault inside the client).

usage: digest.py <library> <header>
"""
import sys


def main():
    library, header = sys.argv[1:3]
    with open(library, 'rb') as f:
        data = f.read()
    digest = 0x811C9DC5
    for byte in data:
        digest = ((digest ^ byte) * 0x01000193) & 0xFFFFFFFF
    text = ('// Generated from VxKnown.tlb by digest.py: what the kernel expects beside it.\n'
            '#pragma once\n\n#include <cstdint>\n\nnamespace korbin {\n\n'
            f'constexpr uint32_t kKnownLibrarySize = {len(data)};\n'
            f'constexpr uint32_t kKnownLibraryDigest = 0x{digest:08X};\n\n'
            '}  // namespace korbin\n')
    try:
        with open(header) as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(header, 'w') as f:
        f.write(text)


if __name__ == '__main__':
    main()
