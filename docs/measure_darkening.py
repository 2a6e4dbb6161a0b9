#!/usr/bin/env python3
"""How often a composite darkens the picture beneath the flames' faint edges.

    docs/measure_darkening.py PHOTO FLAMES COMPOSITE...

PHOTO is the background, FLAMES the flames with their alpha (straight RGBA, as vortelline writes
PNG), each COMPOSITE the two combined by a real host (FFmpeg, melt). All are read through FFmpeg as
8-bit RGBA at one size. Faint edges are the pixels where the flames' alpha lies in (0, 50%); a
pixel is darker when its luma (BT.709 weights) is at least one code value below the photo's. Prints
one line per composite: the share of faint-edge pixels that end darker, their mean luma change,
and the share of all pixels clipped to white in some channel that the photo had not clipped.
"""
import subprocess
import sys

FAINT_LIMIT = 128  # alpha below half


def read_rgba(path, size=None):
    probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                            "stream=width,height", "-of", "csv=p=0", path],
                           check=True, capture_output=True, text=True).stdout.split()[0]
    width, height = (int(v) for v in probe.split(","))
    if size and size != (width, height):
        sys.exit(f"{path}: {width}x{height}, not {size[0]}x{size[1]}")
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                          "rgba", "-"], check=True, capture_output=True).stdout
    return (width, height), raw


def luma(raw, i):
    return 0.2126 * raw[i] + 0.7152 * raw[i + 1] + 0.0722 * raw[i + 2]


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    size, photo = read_rgba(sys.argv[1])
    _, flames = read_rgba(sys.argv[2], size)
    faint = [i for i in range(0, len(flames), 4) if 0 < flames[i + 3] < FAINT_LIMIT]
    pixels = len(flames) // 4
    print(f"faint-edge pixels: {len(faint)} of {pixels} ({100 * len(faint) / pixels:.1f}%)")
    for path in sys.argv[3:]:
        _, result = read_rgba(path, size)
        changes = [luma(result, i) - luma(photo, i) for i in faint]
        darker = sum(1 for change in changes if change <= -1.0)
        clipped = sum(1 for i in range(0, len(result), 4)
                      if any(result[i + c] == 255 and photo[i + c] < 255 for c in range(3)))
        mean = sum(changes) / len(changes) if changes else 0.0
        print(f"{path}: darker {100 * darker / max(len(faint), 1):.1f}% of faint edges, mean luma change "
              f"{mean:+.1f}, newly clipped {100 * clipped / pixels:.1f}% of pixels")


main()
