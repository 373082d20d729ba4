# OpenCV's fastest exact route for the whole job: read the BMP, apply the
# adjustment, write a 24-bit BMP. Run by penumbrix-bench as
#   python3 opencv_job.py IN OUT RUNS red green blue light contrast range czoom
# and prints one line per job: milliseconds, timed inside the process after
# the import; the first job is the cold one.
import os
import sys
import time

import cv2
import numpy as np

src_path, out_path, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
red, green, blue, light, contrast, rng, czoom = (int(v) for v in sys.argv[4:11])

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

for _ in range(runs):
    os.sync()  # every job starts with nothing waiting to be written
    start = time.perf_counter()
    image = cv2.imread(src_path, cv2.IMREAD_UNCHANGED)
    out = cv2.LUT(image, lut)
    for low, high in boxes:
        mask = cv2.inRange(image, low, high)
        cv2.subtract(out, out, dst=out, mask=mask)
    cv2.imwrite(out_path, out)
    print("%.3f" % ((time.perf_counter() - start) * 1000), flush=True)
