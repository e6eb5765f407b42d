"""The amount text of a note, computed with Python's decimal module: each line of the input file
is a number (or "null"); each output line is that number rounded to 0.01 half away from zero and
written with ',' between groups of thousands, or "nil" for 0 and null."""

import sys
from decimal import Decimal, ROUND_HALF_UP, getcontext

getcontext().prec = 200
with open(sys.argv[1]) as requests:
    for line in requests:
        text = line.strip()
        if text == "null" or Decimal(text) == 0:
            print("nil")
        else:
            print(format(Decimal(text).quantize(Decimal("0.01"), rounding=ROUND_HALF_UP), ",.2f"))
