#!/usr/bin/env python3
"""Reads Scrapvault record files for the end-to-end tests.

  archive_reader.py fields FILE        tag and length of every field, one per line
  archive_reader.py text FILE          the text of a ".tx" item, as UTF-8
  archive_reader.py data FILE          the decompressed data of a ".rt"/".ht" item, raw
  archive_reader.py guid FILE          the "G" field as hex
  archive_reader.py title FILE         the "T" field (a window title) as UTF-8
  archive_reader.py dib FILE           width and height, then the pixels as rrggbb, of a ".db" item
  archive_reader.py bmp FILE           the same for a 24- or 32-bit BMP file
  archive_reader.py rgba FILE          the pixels of a 24- or 32-bit ".db" item as raw red, green, blue,
                                       alpha bytes, top row first (24 bits: alpha 255), as `convert ... rgba:-`
  archive_reader.py corner FILE...     the first stored pixel (bottom left) of each ".db" item, as rrggbb
  archive_reader.py complete FILE...   exit 1 unless every file is a whole record file whose
                                       data field decompresses (names the first that is not)
"""
import struct
import sys
import zlib


def fields(path):
    data = open(path, "rb").read()
    if len(data) < 5 or data[0:1] not in (b"F", b"f"):
        raise SystemExit("not a record file: " + path)
    pos, out = 5, []
    while pos + 5 <= len(data):
        tag = chr(data[pos])
        (length,) = struct.unpack_from("<I", data, pos + 1)
        out.append((tag, data[pos + 5 : pos + 5 + length]))
        pos += 5 + length
    return out


def field(path, tag):
    for t, value in fields(path):
        if t == tag:
            return value
    return b""


def color_table_size(bits, used):
    if bits == 0:
        return 0
    if used:
        return used
    return {1: 2, 4: 16, 8: 256}.get(bits, 0)


def pixel_rows(header, pixels, top_first):
    """Width, height, bytes per pixel and each row's pixel bytes, in the order asked (24 and 32 bits)."""
    width, height, _, bits = struct.unpack_from("<iiHH", header, 4)
    if bits not in (24, 32):
        raise SystemExit("only 24 and 32 bits are read, not %d" % bits)
    step = bits // 8
    row_bytes = ((width * bits + 31) & ~31) // 8
    # A positive height stores the bottom row first.
    rows = range(abs(height)) if (height > 0) != top_first else reversed(range(abs(height)))
    return width, abs(height), step, [pixels[y * row_bytes : y * row_bytes + width * step] for y in rows]


def rgb(header, pixels):
    """Width, height, then every pixel as rrggbb, bottom row first (24 and 32 bits)."""
    width, height, step, rows = pixel_rows(header, pixels, top_first=False)
    out = [" ".join("%02x%02x%02x" % (row[x + 2], row[x + 1], row[x]) for x in range(0, width * step, step))
           for row in rows]
    return "%d %d\n%s" % (width, height, "\n".join(out))


def rgba(header, pixels):
    """Raw red, green, blue, alpha bytes, top row first (24 and 32 bits)."""
    width, _, step, rows = pixel_rows(header, pixels, top_first=True)
    out = bytearray()
    for row in rows:
        pixel = bytearray(4 * width)
        pixel[0::4] = row[2::step]
        pixel[1::4] = row[1::step]
        pixel[2::4] = row[0::step]
        pixel[3::4] = row[3::step] if step == 4 else b"\xff" * width
        out += pixel
    return bytes(out)


def is_complete(path):
    """A whole record file: every field within the file, and item data that decompresses."""
    data = open(path, "rb").read()
    if len(data) < 5 or data[0:1] not in (b"F", b"f"):
        return False
    pos = 5
    while pos + 5 <= len(data):
        tag = chr(data[pos])
        (length,) = struct.unpack_from("<I", data, pos + 1)
        if pos + 5 + length > len(data):
            return False
        if tag == "B" and path.endswith((".tx", ".rt", ".ht", ".mt")):
            try:
                zlib.decompress(data[pos + 5 : pos + 5 + length])
            except zlib.error:
                return False
        pos += 5 + length
    return pos == len(data)


def main():
    command, path = sys.argv[1], sys.argv[2]
    if command == "corner":
        for name in sys.argv[2:]:
            payload = field(name, "B")
            bits, used = struct.unpack_from("<H", payload, 14)[0], struct.unpack_from("<I", payload, 32)[0]
            start = 40 + 4 * color_table_size(bits, used)
            first = zlib.decompressobj().decompress(payload[start:], 4)
            print("%02x%02x%02x" % (first[2], first[1], first[0]))
        return
    if command == "complete":
        for name in sys.argv[2:]:
            if not is_complete(name):
                print("incomplete: " + name)
                raise SystemExit(1)
        return
    if command == "fields":
        for tag, value in fields(path):
            print(tag, len(value))
    elif command == "text":
        block = field(path, "B")
        text = zlib.decompress(block).decode("utf-16-le") if block else ""
        sys.stdout.write(text)
    elif command == "data":
        sys.stdout.buffer.write(zlib.decompress(field(path, "B")))
    elif command == "title":
        sys.stdout.buffer.write(field(path, "T"))
    elif command == "guid":
        print(field(path, "G").hex())
    elif command == "dib":
        payload = field(path, "B")
        bits, used = struct.unpack_from("<H", payload, 14)[0], struct.unpack_from("<I", payload, 32)[0]
        start = 40 + 4 * color_table_size(bits, used)
        print(rgb(payload[:40], zlib.decompress(payload[start:])))
    elif command == "rgba":
        payload = field(path, "B")
        bits, used = struct.unpack_from("<H", payload, 14)[0], struct.unpack_from("<I", payload, 32)[0]
        start = 40 + 4 * color_table_size(bits, used)
        sys.stdout.buffer.write(rgba(payload[:40], zlib.decompress(payload[start:])))
    elif command == "bmp":
        data = open(path, "rb").read()
        (offset,) = struct.unpack_from("<I", data, 10)
        print(rgb(data[14:54], data[offset:]))
    else:
        raise SystemExit("unknown command " + command)


if __name__ == "__main__":
    main()
