# OpenCV's exact route (opencv_rule.py) in one Python process looping over a
# folder's BMP files, for the batch figures of penumbrix-bench:
#   python3 opencv_batch.py IN_DIR OUT_DIR red green blue light contrast range czoom
# Prints the milliseconds of the whole loop, timed inside the process after
# the import.
import os
import sys
import time

from opencv_rule import adjust, route

in_dir, out_dir = sys.argv[1], sys.argv[2]
lut, boxes = route(*(int(v) for v in sys.argv[3:10]))

names = sorted(n for n in os.listdir(in_dir) if n.endswith(".bmp"))
start = time.perf_counter()
for name in names:
    adjust(os.path.join(in_dir, name), os.path.join(out_dir, name), lut, boxes)
print("%.3f" % ((time.perf_counter() - start) * 1000), flush=True)
