"""Checks a beam file of rp search against numpy.

    beam_check.py FRAMES_TXT ROWS COLS BEAM_FILE LABELS S [PRIORS_TXT]

FRAMES_TXT holds the frame values as obwrite read them, PRIORS_TXT the
K - 1 priors. The values are taken in single precision, as the object file
holds them; scores are the values divided by the priors (the last
category's prior is the priors' sum over K - 2) ranked by ln(score / frame
total), or without priors by ln(value). Prints the first mismatch and
exits 1, or exits 0.
"""
import sys

import numpy as np


def main():
    frames_txt, rows, cols, beam, labels, s = sys.argv[1:7]
    rows, cols, s = int(rows), int(cols), int(s)
    labels = labels.split(",")
    wg = np.loadtxt(frames_txt, dtype=np.float64).astype(np.float32).reshape(rows, cols).astype(np.float64)
    if len(sys.argv) > 7:
        priors = np.loadtxt(sys.argv[7], dtype=np.float64).astype(np.float32).astype(np.float64).ravel()
        prior = np.append(priors, priors.sum() / (cols - 2))
        score = wg / prior
        value = np.log(score / score.sum(axis=1, keepdims=True))
    else:
        value = np.log(wg)
    order = np.argsort(-value, axis=1, kind="stable")[:, :s]
    lines = open(beam).read().splitlines()
    if len(lines) != rows:
        print("beam file has %d lines, want %d" % (len(lines), rows))
        return 1
    for f, line in enumerate(lines):
        head, rest = line.split("\t", 1)
        if head != "%d." % f:
            print("line %d starts %r" % (f, head))
            return 1
        words = rest.split()
        got_v = [float(x) for x in words[0::2]]
        got_l = words[1::2]
        want_l = [labels[k] for k in order[f]]
        want_v = value[f, order[f]]
        if got_l != want_l or not np.allclose(got_v, want_v, rtol=0, atol=1e-5):
            print("frame %d: got %s %s, numpy %s %s" % (f, got_l, got_v, want_l, list(want_v)))
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
