"""Shows a texture tiled 2 x 2, dithered by two builds of png2mat: where the copies meet, a seam or none.

Usage: seam_picture.py WORK_DIR BEFORE_PNG2MAT AFTER_PNG2MAT MAT2PNG PICTURE [TEXTURE [PALETTE]]
WORK_DIR holds what make_textures wrote; TEXTURE (default plaster1) comes from WORK_DIR/tiling/ and PALETTE
(default tiling) from WORK_DIR/pal/. Writes PICTURE: the source, then each build's result, each tiled 2 x 2
and cropped around the corner where the four copies meet, enlarged by pixel replication and labelled.
"""
import os
import shutil
import subprocess
import sys
import tempfile

CONVERT = "/usr/bin/convert"  # never the stand-in on PATH
CROP, ZOOM = 96, 3


def run(command, cwd=None):
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit(f"failed ({result.returncode}): {' '.join(command)}\n{result.stderr}")
    return result.stdout


def dithered(png2mat, mat2png, source, palette_file, scratch, tag):
    """The texture dithered by `png2mat` into a MAT file, and brought back as PNG by mat2png."""
    directory = os.path.join(scratch, tag)
    os.makedirs(os.path.join(directory, "mat"))
    os.makedirs(os.path.join(directory, "pal"))
    shutil.copy(palette_file, os.path.join(directory, "pal"))
    picture = os.path.join(directory, "mat", "t.mat.png")
    shutil.copy(source, picture)
    run([png2mat, "-q", "--palette=" + os.path.basename(palette_file)[:-4], "--dither"], cwd=directory)
    os.remove(picture)  # what comes back must be mat2png's
    run([mat2png, "-q"], cwd=directory)
    return picture


def main():
    work, before, after, mat2png, path = map(os.path.abspath, sys.argv[1:6])
    texture = sys.argv[6] if len(sys.argv) > 6 else "plaster1"
    palette = sys.argv[7] if len(sys.argv) > 7 else "tiling"
    source = os.path.join(work, "tiling", texture + ".png")
    palette_file = os.path.join(work, "pal", palette + ".pal")
    width, height = map(int, run([CONVERT, source, "-format", "%w %h", "info:"]).split())
    scratch = tempfile.mkdtemp(prefix="seam-picture-")
    try:
        cells = []
        for label, picture in [("source", source), ("before: starts and ends at the edges", dithered(before, mat2png, source, palette_file, scratch, "before")),
                               ("after: dithered as it tiles", dithered(after, mat2png, source, palette_file, scratch, "after"))]:
            cell = os.path.join(scratch, f"cell{len(cells)}.png")
            # two copies across, two down; the crop's middle is where the four meet
            run([CONVERT, picture, picture, "+append", "(", "+clone", ")", "-append", "-crop",
                 f"{CROP}x{CROP}+{width - CROP // 2}+{height - CROP // 2}", "+repage", "-scale", f"{ZOOM * 100}%",
                 "-gravity", "south", "-background", "white", "-splice", "0x16", "-font", "DejaVu-Sans", "-pointsize", "11",
                 "-fill", "black", "-annotate", "+0+2", label, "-bordercolor", "white", "-border", "2", cell])
            cells.append(cell)
        run([CONVERT] + cells + ["+append", "-strip", "-define", "png:compression-level=9", path])
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
