# The numpy side of the mx benchmark: prints the best times in seconds of
# a 512 x 512 float32 product, of an element-wise add over 10^7 floats into
# an existing array, and of sqrt over the same.
import sys
import time

import numpy as np

runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
rng = np.random.default_rng(1)
a = rng.random((512, 512), dtype=np.float32)
b = rng.random((512, 512), dtype=np.float32)
c = np.empty((512, 512), dtype=np.float32)
x = rng.random((1000, 10000), dtype=np.float32)
y = rng.random((1000, 10000), dtype=np.float32)
z = np.empty_like(x)


def best(f, n):
    f()
    t = float("inf")
    for _ in range(n):
        t0 = time.perf_counter()
        f()
        t = min(t, time.perf_counter() - t0)
    return t


print(best(lambda: np.matmul(a, b, out=c), runs * 4),
      best(lambda: np.add(x, y, out=z), runs),
      best(lambda: np.sqrt(x, out=z), runs))
