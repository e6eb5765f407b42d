#!/usr/bin/env python3
"""Writes the oracle tables of the formatting tests, computed with Python's own libraries.

amounts.tsv: amount columns. Fields: value text, width, decimals, zero form ("n" a number as any
other, "d" dashes, "t" the zero text "nil"), the column. The column is the value quantized with
ROUND_DOWN to the decimals, formatted with "," grouping, followed by the sign column ("-" when
the quantized value is below zero, else a blank) and right-aligned in the width; separators are
dropped from the left while the column is too wide, and a column whose digits alone do not fit is
all asterisks, as are dashes in fewer than three columns.

urls.tsv: percent-encoding. Fields: the input bytes in hexadecimal, then
urllib.parse.quote(bytes, safe='-._~').

usage: gen_formatting.py AMOUNTS URLS
"""

import random
import sys
import urllib.parse
from decimal import ROUND_DOWN, Decimal, getcontext

getcontext().prec = 200
rng = random.Random(150670)
ZERO_TEXT = "nil"


def random_value():
    # At most 30 significant digits: the 22-byte decimal holds them exactly wherever the point is.
    digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(1, rng.choice([12, 30]))))
    value = Decimal(("-" if rng.random() < 0.4 else "") + digits).scaleb(-rng.randint(0, len(digits) + 3))
    if rng.random() < 0.03:
        value = Decimal(0)
    return value


def column(value, width, decimals, zero_form):
    if value == 0 and zero_form == "d":
        return "-- ".rjust(width) if width >= 3 else "*" * width
    if value == 0 and zero_form == "t":
        return ZERO_TEXT[: max(width - 1, 0)].rjust(width)
    quantized = value.quantize(Decimal(1).scaleb(-decimals), rounding=ROUND_DOWN)
    grouped = format(abs(quantized), ",f")
    integer, _, fraction = grouped.partition(".")
    tail = ("." + fraction if decimals > 0 else "") + ("-" if quantized < 0 else " ")
    room = width - len(tail)
    if room < len(integer.replace(",", "")):
        return "*" * width
    while len(integer) > room:
        integer = integer.replace(",", "", 1)
    return (integer + tail).rjust(width)


def amounts(path):
    with open(path, "w") as out:
        for _ in range(4000):
            value = random_value()
            width = rng.randint(0, 34)
            decimals = rng.randint(0, 6)
            zero_form = rng.choice("ndt")
            out.write(f"{format(value, 'f')}\t{width}\t{decimals}\t{zero_form}\t{column(value, width, decimals, zero_form)}\n")


def urls(path):
    with open(path, "w") as out:
        for _ in range(400):
            alphabet = rng.choice([range(256), range(32, 127), b"-._~aZ09 /%+&=?"])
            data = bytes(rng.choice(alphabet) for _ in range(rng.randint(1, 40)))
            out.write(f"{data.hex()}\t{urllib.parse.quote(data, safe='-._~')}\n")


amounts(sys.argv[1])
urls(sys.argv[2])
