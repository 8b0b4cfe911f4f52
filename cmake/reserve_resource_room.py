#!/usr/bin/env python3
"""Makes the linked stub exactly SIZE bytes with its resources' raw data
running to the last of them: the room in which the packer rewrites the
resources (an author's icon, version information).

    reserve_resource_room.py LINKED.exe OUT.exe SIZE

The resource section must be the last section in the file and in memory
(cmake/stub_sections.ld sees to that) and nothing may follow it in the
linked file but zeros up to the file alignment (ld leaves the last
section's SizeOfRawData unaligned). Its SizeOfRawData grows to reach SIZE;
its VirtualSize, the resource directory and SizeOfImage stay as linked,
since the resources themselves do not change. SizeOfInitializedData grows by the same amount
and the checksum is computed again for the SIZE bytes. Fails when the
linked image is larger than SIZE or the layout is not as described.
"""

import os
import struct
import sys


def fail(message):
    sys.exit(f"popbox-stub: {message}")


def checksum(data, field):
    """The PE checksum: 16-bit words added with end-around carry, the field
    itself counted as zero, plus the file's length."""
    words = bytearray(data)
    words[field:field + 4] = b"\0\0\0\0"
    if len(words) % 2:
        words.append(0)
    total = sum(struct.unpack(f"<{len(words) // 2}H", words))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def main(linked_path, out_path, size):
    with open(linked_path, "rb") as f:
        data = bytearray(f.read())
    linked = len(data)
    if linked > size:
        fail(f"the linked image is {linked} bytes, {linked - size} bytes more than the payload "
             f"offset {size}; make the stub smaller")
    if data[:2] != b"MZ":
        fail(f"{linked_path} is no Windows program")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        fail(f"{linked_path} has no PE header")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x10B:
        fail(f"{linked_path} is not a 32-bit program")
    file_alignment = struct.unpack_from("<I", data, optional + 36)[0]
    resource_rva, resource_size = struct.unpack_from("<II", data, optional + 96 + 8 * 2)
    table = optional + optional_size
    headers = []
    for i in range(sections):
        at = table + 40 * i
        name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        vsize, va, raw_size, raw_offset = struct.unpack_from("<IIII", data, at + 8)
        flags = struct.unpack_from("<I", data, at + 36)[0]
        headers.append((name, vsize, va, raw_size, raw_offset, flags, at))

    last_in_file = max((h for h in headers if h[3]), key=lambda h: h[4])
    last_in_memory = max(headers, key=lambda h: h[2])
    name, vsize, va, raw_size, raw_offset, flags, at = last_in_file
    if name != ".rsrc" or last_in_memory is not last_in_file:
        fail(f"the last section is {last_in_file[0]} in the file and {last_in_memory[0]} in "
             "memory; the resources (.rsrc) must be last in both (see cmake/stub_sections.ld)")
    if resource_rva != va:
        fail("the resource directory does not start the .rsrc section")
    # ld writes the last section's unaligned size and pads the file with
    # zeros to the file alignment; anything else behind it would be lost.
    tail = data[raw_offset + raw_size:]
    if raw_offset + raw_size > linked or len(tail) >= file_alignment or any(tail):
        fail(f"{len(tail)} bytes that are not alignment follow the .rsrc section in the linked "
             "image")
    if size % file_alignment:
        fail(f"{size} is not a multiple of the file alignment {file_alignment}")

    room = size - raw_offset
    struct.pack_into("<I", data, at + 16, room)
    if flags & 0x40:  # IMAGE_SCN_CNT_INITIALIZED_DATA
        initialized = struct.unpack_from("<I", data, optional + 8)[0]
        aligned = (raw_size + file_alignment - 1) // file_alignment * file_alignment
        struct.pack_into("<I", data, optional + 8, initialized + room - aligned)
    data.extend(bytes(size - linked))
    struct.pack_into("<I", data, optional + 64, checksum(data, optional + 64))

    print(f"popbox-stub: linked {linked} bytes; resources {resource_size} bytes at offset "
          f"{raw_offset}, room for resources {room} bytes ({room - resource_size} free), "
          f"padded to {size}")
    with open(out_path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(out_path + ".tmp", out_path)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip())
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]))
