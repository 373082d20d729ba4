# OpenCV's fastest exact route for the program's adjustment, shared by
# opencv_job.py (one file, several jobs) and opencv_batch.py (a folder).
import cv2
import numpy as np


def route(red, green, blue, light, contrast, rng, czoom):
    """The lookup table and the boxes of the cut-off, for the bars' values."""
    common = (light - 128) + (contrast - 128)
    levels = np.arange(256, dtype=np.int32)
    # One table per channel, in OpenCV's order B, G, R.
    lut = np.stack([np.clip(levels + o - 128 + common, 0, 255) for o in (blue, green, red)], axis=-1)
    lut = lut.astype(np.uint8).reshape(256, 1, 3)
    # Below the threshold T (compared on B * 65536 + G * 256 + R) a pixel turns
    # black while the contrast is above 0: at most three boxes of channel ranges.
    threshold = rng * 100 * czoom
    tb, tg, tr = threshold >> 16, (threshold >> 8) & 255, threshold & 255
    boxes = []
    if contrast > 0:
        if tb > 0:
            boxes.append(((0, 0, 0), (tb - 1, 255, 255)))
        if tb <= 255 and tg > 0:
            boxes.append(((tb, 0, 0), (tb, tg - 1, 255)))
        if tb <= 255 and tr > 0:
            boxes.append(((tb, tg, 0), (tb, tg, tr - 1)))
    return lut, boxes


def adjust(in_path, out_path, lut, boxes):
    """Reads the BMP, adjusts it and writes a 24-bit BMP."""
    image = cv2.imread(in_path, cv2.IMREAD_UNCHANGED)
    out = cv2.LUT(image, lut)
    for low, high in boxes:
        mask = cv2.inRange(image, low, high)
        cv2.subtract(out, out, dst=out, mask=mask)
    cv2.imwrite(out_path, out)
