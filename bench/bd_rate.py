#!/usr/bin/env python3
"""Bjontegaard delta rate of a test coder against an anchor.

    bd_rate.py ANCHOR_POINTS TEST_POINTS
    bd_rate.py --at KBIT POINTS

Each POINTS argument is a comma-separated list of kbit/s:PSNR pairs (four or more). Prints
the average bit-rate difference in percent over the PSNR range both curves cover
(negative: the test coder needs fewer bits): log10 of the rate is fitted as a cubic of the
PSNR (least squares) and both fits are integrated over the common range. With --at, prints
the PSNR of the curve at KBIT instead (linear in log rate between the two nearest points,
extended from the end pair outside them).
"""
import math
import sys


def points(text):
    pairs = [p.split(":") for p in text.split(",") if p]
    return [(float(psnr), math.log10(float(rate))) for rate, psnr in pairs]


def cubic_fit(pts):
    # Normal equations of a degree-3 least-squares fit, solved by Gaussian elimination.
    n = 4
    a = [[sum(x ** (i + j) for x, _ in pts) for j in range(n)] for i in range(n)]
    b = [sum(y * x ** i for x, y in pts) for i in range(n)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(a[r][c]))
        a[c], a[p], b[c], b[p] = a[p], a[c], b[p], b[c]
        for r in range(c + 1, n):
            f = a[r][c] / a[c][c]
            for k in range(c, n):
                a[r][k] -= f * a[c][k]
            b[r] -= f * b[c]
    coef = [0.0] * n
    for r in range(n - 1, -1, -1):
        coef[r] = (b[r] - sum(a[r][k] * coef[k] for k in range(r + 1, n))) / a[r][r]
    return coef


def integral(coef, lo, hi):
    return sum(c / (i + 1) * (hi ** (i + 1) - lo ** (i + 1)) for i, c in enumerate(coef))


def psnr_at(kbit, pts):
    pts = sorted(pts, key=lambda p: p[1])
    x = math.log10(kbit)
    i = 0
    while i < len(pts) - 2 and pts[i + 1][1] < x:
        i += 1
    (p0, r0), (p1, r1) = pts[i], pts[i + 1]
    return p0 + (p1 - p0) * (x - r0) / (r1 - r0) if r1 != r0 else p0


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--at":
        pts = points(sys.argv[3])
        if len(pts) < 2:
            sys.exit("bd_rate.py: two or more points")
        print("%.3f" % psnr_at(float(sys.argv[2]), pts))
        return
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    anchor, test = points(sys.argv[1]), points(sys.argv[2])
    if len(anchor) < 4 or len(test) < 4:
        sys.exit("bd_rate.py: four or more points each")
    lo = max(min(p for p, _ in anchor), min(p for p, _ in test))
    hi = min(max(p for p, _ in anchor), max(p for p, _ in test))
    if hi <= lo:
        sys.exit("bd_rate.py: the PSNR ranges do not overlap")
    fa, ft = cubic_fit(anchor), cubic_fit(test)
    diff = (integral(ft, lo, hi) - integral(fa, lo, hi)) / (hi - lo)
    print("%+.1f" % ((10 ** diff - 1) * 100))


main()
