#!/usr/bin/env python3
"""Copies a widl type library, restoring the library id where widl 7 leaves
its last two bytes overwritten (seen with a coclass that has a source
interface): the one GUID-table entry that matches the id in its first 14
bytes gets the id's last two bytes back. Fails when that entry is not found."""
import sys
import uuid


def main():
    source, target, libid = sys.argv[1], sys.argv[2], uuid.UUID(sys.argv[3]).bytes_le
    data = bytearray(open(source, "rb").read())
    if data.find(libid) < 0:
        at = data.find(libid[:14])
        if at < 0 or data.find(libid[:14], at + 1) >= 0:
            sys.exit(f"{source}: library id {sys.argv[3]} not found once")
        data[at + 14:at + 16] = libid[14:]
    open(target, "wb").write(data)


if __name__ == "__main__":
    main()
