# OpenCV's fastest exact route for the whole job: read the BMP, apply the
# adjustment, write a 24-bit BMP. Run by penumbrix-bench as
#   python3 opencv_job.py IN OUT RUNS red green blue light contrast range czoom
# and prints one line per job: milliseconds, timed inside the process after
# the import; the first job is the cold one.
import os
import sys
import time

from opencv_rule import adjust, route

src_path, out_path, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
lut, boxes = route(*(int(v) for v in sys.argv[4:11]))

for _ in range(runs):
    os.sync()  # every job starts with nothing waiting to be written
    start = time.perf_counter()
    adjust(src_path, out_path, lut, boxes)
    print("%.3f" % ((time.perf_counter() - start) * 1000), flush=True)
