"""Writes .ico files for the drawing scripts beside it. A picture is anything
with a size and square rows of pixels, each None (transparent), (r, g, b) or
(r, g, b, alpha). Standard library only."""
import struct


def icon_image(canvas):
    """One icon image: header, 32-bit colour rows and the AND mask, bottom-up.

    Only fully transparent pixels are masked out: a renderer that ignores the
    alpha channel then draws a half-covered edge pixel in its own colour rather
    than XOR-ing that colour into whatever lies behind the icon."""
    size = canvas.size
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(canvas.pixels):
        row_mask = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            alpha = 0 if pixel is None else (pixel[3] if len(pixel) == 4 else 255)
            if alpha == 0:
                colour += bytes((0, 0, 0, 0))
                row_mask[x // 8] |= 0x80 >> (x % 8)
            else:
                r, g, b = pixel[:3]
                colour += bytes((b, g, r, alpha))
        mask += row_mask
    return header + bytes(colour) + bytes(mask)


def write_ico(path, canvases):
    images = [icon_image(c) for c in canvases]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        out += struct.pack('<BBBBHHII', canvas.size, canvas.size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    with open(path, 'wb') as f:
        f.write(out)
