#!/usr/bin/env python3
"""Writes random decimals and their shortest text, computed with Python's decimal module, as
tab-separated lines: the plain input text, then the text Convert_BCD must give for it."""
import random
import sys
from decimal import Decimal, getcontext

getcontext().prec = 200
rng = random.Random(150670)


def plain(d: Decimal) -> str:
    s = format(d, 'f')
    if '.' in s:
        s = s.rstrip('0').rstrip('.')
    return '0' if s in ('-0', '') else s


with open(sys.argv[1], 'w') as out:
    for _ in range(5000):
        # At most 30 significant digits: they fit 16 base-100 digit pairs wherever the point
        # falls, so the decimal holds the value exactly.
        digits = ''.join(rng.choice('0123456789') for _ in range(rng.randint(1, 30)))
        value = Decimal(('-' if rng.random() < 0.5 else '') + digits).scaleb(rng.randint(-40, 40))
        text = format(value, 'f')
        out.write(f'{text}\t{plain(value)}\n')
