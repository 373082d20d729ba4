# OpenCV's exact route (as in opencv_job.py) in one Python process looping
# over a folder's BMP files, for the batch figures of penumbrix-bench:
#   python3 opencv_batch.py IN_DIR OUT_DIR red green blue light contrast range czoom
# Prints the milliseconds of the whole loop, timed inside the process after
# the import.
import os
import sys
import time

import cv2
import numpy as np

in_dir, out_dir = sys.argv[1], sys.argv[2]
red, green, blue, light, contrast, rng, czoom = (int(v) for v in sys.argv[3:10])

common = (light - 128) + (contrast - 128)
levels = np.arange(256, dtype=np.int32)
lut = np.stack([np.clip(levels + o - 128 + common, 0, 255) for o in (blue, green, red)], axis=-1)
lut = lut.astype(np.uint8).reshape(256, 1, 3)
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

names = sorted(n for n in os.listdir(in_dir) if n.endswith(".bmp"))
start = time.perf_counter()
for name in names:
    image = cv2.imread(os.path.join(in_dir, name), cv2.IMREAD_UNCHANGED)
    out = cv2.LUT(image, lut)
    for low, high in boxes:
        mask = cv2.inRange(image, low, high)
        cv2.subtract(out, out, dst=out, mask=mask)
    cv2.imwrite(os.path.join(out_dir, name), out)
print("%.3f" % ((time.perf_counter() - start) * 1000), flush=True)
