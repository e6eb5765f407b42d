#!/usr/bin/env python3
"""Writes the oracle tables of the typed-field tests, computed with Python's own libraries.

numbers.tsv: the display form of numbers. Fields: value text, width, input type, the display
text between vertical bars (it may end in a blank). The value is quantized with ROUND_DOWN to the
type's decimals and grouped with "," by Python's format; when commas are wanted (m types, or a
comma after the letter) but the number without them is wider than the width, the value stands as
given; otherwise the leftmost separators are dropped while the text is too wide. n types put "-"
first and, without commas, are cut to the width; m types put "-" (or a blank) last.

month_days.tsv: the days of every month of the years 1800 to 2800, from datetime. Fields: year,
month, days.

usage: gen_typed_fields.py NUMBERS MONTH_DAYS
"""

import datetime
import random
import sys
from decimal import ROUND_DOWN, Decimal, getcontext

getcontext().prec = 100
rng = random.Random(150670)

TYPES = ["n0", "n1", "n2", "n3", "n9", "n,0", "n,2", "n,5", "n+0", "n+2", "n,+2", "nb0", "n-0", "n,b0",
         "m0", "m2", "m+2", "m4"]


def random_value():
    digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(1, rng.choice([4, 9, 14]))))
    value = Decimal(("-" if rng.random() < 0.4 else "") + digits).scaleb(-rng.randint(0, min(len(digits), 6)))
    if rng.random() < 0.03:
        value = Decimal(0)
    # The plain text of the value as the run-time writes a number: no exponent, no trailing zeros
    # after the point, a "0" before it.
    text = format(value.normalize(), "f") if value != 0 else "0"
    return text


def parse_type(t):
    """The commas flag and decimals of a type, as the display rule reads it."""
    m = t[0] == "m"
    rest = t[1:]
    commas = m
    if rest.startswith(","):
        commas, rest = True, rest[1:]
    if rest.startswith("+"):
        rest = rest[1:]
    digits = ""
    for c in rest:
        if not c.isdigit():
            break
        digits += c
    return m, commas, int(digits) if digits else 0


def display(text, width, t):
    m, commas, d = parse_type(t)
    negative = text.startswith("-")
    magnitude = text[1:] if negative else text
    whole = magnitude.split(".")[0]
    length = len(whole) + (d + 1 if d > 0 else 0) + (1 if negative else 0)
    if commas and length > width:
        number = magnitude
    else:
        q = Decimal(magnitude).quantize(Decimal(1).scaleb(-d), rounding=ROUND_DOWN)
        plain = format(q, "f")
        whole_q, _, fraction = plain.partition(".")
        if commas:
            grouped = format(int(whole_q), ",")
            extra = length + grouped.count(",") - width
            if extra > 0:
                grouped = grouped.replace(",", "", extra)
            whole_q = grouped
        number = whole_q + ("." + fraction if d > 0 else "")
    if m:
        return number + ("-" if negative else " ")
    out = ("-" if negative else "") + number
    return out if commas else out[:width]


def main():
    numbers_path, days_path = sys.argv[1], sys.argv[2]
    with open(numbers_path, "w") as f:
        for _ in range(1000):
            value = random_value()
            t = rng.choice(TYPES)
            width = rng.randint(1, 20)
            f.write(f"{value}\t{width}\t{t}\t|{display(value, width, t)}|\n")
    with open(days_path, "w") as f:
        for year in range(1800, 2801):
            for month in range(1, 13):
                first = datetime.date(year, month, 1)
                following = datetime.date(year + (month == 12), month % 12 + 1, 1)
                f.write(f"{year}\t{month}\t{(following - first).days}\n")


if __name__ == "__main__":
    main()
