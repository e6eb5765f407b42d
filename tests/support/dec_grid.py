"""Rounding of exact values to the grid of the 22-byte decimal: 16 base-100 digits, half away
from zero. Shared by the generators of the decimal and operator test tables."""

import math
from fractions import Fraction

MAXEXP, MINEXP = 63, -64


def round_to_grid(v):
    """(pos, exp, digits) of the non-zero Fraction v rounded to 16 base-100 digits; the base-100
    exponent is not clamped, so callers see when it lies outside MINEXP..MAXEXP."""
    pos = 1 if v > 0 else 0
    m = abs(v)
    e = (m.numerator.bit_length() - m.denominator.bit_length()) * 30103 // 200000  # ~log100
    while m >= Fraction(100) ** e:
        e += 1
    while m < Fraction(100) ** (e - 1):
        e -= 1
    n = math.floor(m / Fraction(100) ** (e - 16) + Fraction(1, 2))
    if n == 100 ** 16:
        n, e = 100 ** 15, e + 1
    dg = []
    for _ in range(16):
        dg.append(n % 100)
        n //= 100
    dg.reverse()
    while dg and dg[-1] == 0:
        dg.pop()
    return pos, e, tuple(dg)
