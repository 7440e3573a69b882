"""The Pillow peer: the same conversion as mat2png, written the way a Python user would.

Run in a working directory with mat/ (and pal/); writes NAME.mat.png and NAME.mat_alpha.png.
"""
import os
import struct
import sys

from PIL import Image, ImageOps


def chunks(data):
    """Yields (id, content) for every chunk, entering every FORM."""
    at = 0
    while at + 8 <= len(data):
        cid, size = data[at:at + 4], struct.unpack(">I", data[at + 4:at + 8])[0]
        if cid == b"FORM":
            at += 12
            continue
        yield cid, data[at + 8:at + 8 + size]
        at += 8 + size + size % 2


def convert(path):
    with open(path, "rb") as f:
        data = f.read()
    found = dict(chunks(data))
    width, height = struct.unpack("<ii", found[b"INFO"][:8])
    if b"CMAP" in found:
        palette = found[b"CMAP"]
    else:
        name = found[b"NAME"].split(b"\0")[0].decode().replace("\\", "/")
        with open(f"pal/{name}.pal", "rb") as f:
            palette = dict(chunks(f.read()))[b"CMAP"][:768]
    image = Image.frombytes("P", (width, height), found[b"PXLS"])
    image.putpalette(palette)
    alpha = found.get(b"ALPH")
    if alpha is not None and len(alpha) == width * height:
        mask = ImageOps.invert(Image.frombytes("L", (width, height), alpha))
        mask.transpose(Image.Transpose.FLIP_TOP_BOTTOM).save(path + "_alpha.png")
        image = image.convert("RGBA")
        image.putalpha(mask)
    else:
        image = image.convert("RGB")
    image.transpose(Image.Transpose.FLIP_TOP_BOTTOM).save(path + ".png")


def converted(path):
    """Converts one file; False when it cannot be read or written."""
    try:
        convert(path)
        return True
    except (OSError, KeyError, ValueError, struct.error):
        return False


def mat_files():
    return ["mat/" + name for name in os.listdir("mat") if name.lower().endswith(".mat")]


def main():
    failed = False
    for path in mat_files():
        failed |= not converted(path)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
