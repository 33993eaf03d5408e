# Forward pass of an opt network file (big-endian) over the rows of a text
# matrix, in numpy double precision: the peer that nnet x is compared with.
import sys

import numpy as np

net, rows = sys.argv[1], sys.argv[2]
raw = open(net, "rb").read()
n = int.from_bytes(raw[4:8], "big")
sizes = [int.from_bytes(raw[8 + 4 * j:12 + 4 * j], "big") for j in range(n)]
w = np.frombuffer(raw[8 + 4 * n:], dtype=">f4").astype(np.float64)
x = np.loadtxt(rows, ndmin=2)
units = np.hstack([x[:, :sizes[0] - 1], np.ones((x.shape[0], 1))])
at = 0
for j in range(n - 1):
    W = w[at:at + sizes[j] * sizes[j + 1]].reshape(sizes[j + 1], sizes[j])
    at += W.size
    units = 1 / (1 + np.exp(-np.clip(units @ W.T, -100, 100)))
for row in units:
    print(" ".join("%.9g" % v for v in row))
