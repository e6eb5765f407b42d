#!/usr/bin/env python3
"""Writes the oracle table for the decimal tests.

Every expected result is computed from exact values (fractions.Fraction, decimal.Decimal with a
wide context) and then rounded to the base-100 grid: 16 base-100 digits, half away from zero.
One case per line, fields separated by tabs; decimals are given as the hex image of their 22
bytes (exponent, sign, digit count as little-endian 16-bit fields, then 16 digit bytes).

usage: gen_cases.py OUTPUT [SEED]
"""

import decimal
import math
import os
import random
import struct
import sys
from fractions import Fraction

# The rounding to the decimal's grid is shared with the other table generators.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from dec_grid import MAXEXP, MINEXP, round_to_grid  # noqa: E402

D = decimal.Decimal
CTX = decimal.Context(prec=500, Emax=10**6, Emin=-10**6, rounding=decimal.ROUND_HALF_UP)
decimal.setcontext(CTX)

NULL = None  # a null decimal
OVERFLOW, UNDERFLOW, DIVZERO, NONNUM, BADEXP = -1200, -1201, -1202, -1213, -1216


# ---- the 22-byte record ---------------------------------------------------------------------

def make(pos, exp, digits):
    return (pos, exp, tuple(digits))


ZERO = make(1, 0, ())
NEGZERO = make(0, 0, ())


def image(d, null_exp=0):
    if d is NULL:
        return struct.pack('<hhh16B', null_exp, -1, 0, *([0] * 16)).hex().upper()
    pos, exp, dg = d
    return struct.pack('<hhh16B', exp, pos, len(dg), *(list(dg) + [0] * (16 - len(dg)))).hex().upper()


def value(d):
    pos, exp, dg = d
    v = Fraction(0)
    for i, x in enumerate(dg):
        v += Fraction(x) * Fraction(100) ** (exp - 1 - i)
    return v if pos else -v


def to_dec(v):
    """(status, decimal) of the exact value v rounded to 16 base-100 digits, half away from zero."""
    if v == 0:
        return 0, ZERO
    pos, e, dg = round_to_grid(v)
    status = 0
    if e > MAXEXP:
        e, status = MAXEXP, OVERFLOW
    elif e < MINEXP:
        e, status = MINEXP, UNDERFLOW
    return status, make(pos, e, dg)


def has_digits(d):
    return d is not NULL and len(d[2]) > 0


def describe(d):
    if d is NULL:
        return 'null'
    if d == NEGZERO:
        return '-0'
    v = value(d)
    return str(D(v.numerator) / D(v.denominator))


# ---- random values ----------------------------------------------------------------------------

rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 20240611)


def trimmed(dg):
    dg = list(dg)
    while dg and dg[-1] == 0:
        dg.pop()
    return dg


def rand_money():
    cents = rng.randint(0, 10 ** rng.randint(1, 14))
    v = Fraction(cents, 100) * rng.choice((1, -1))
    return to_dec(v)[1]


def rand_digits(n, first_low=False):
    dg = [rng.randint(1, 9) if first_low else rng.randint(1, 99)] + [rng.randint(0, 99) for _ in range(n - 1)]
    if n > 1 and dg[-1] == 0:
        dg[-1] = rng.randint(1, 99)
    return dg


def rand_full(exp=None, first_low=False):
    e = rng.randint(-12, 12) if exp is None else exp
    return make(rng.randint(0, 1), e, rand_digits(16, first_low))


def rand_short():
    return make(rng.randint(0, 1), rng.randint(-8, 8), rand_digits(rng.randint(1, 16)))


def rand_special():
    kind = rng.randint(0, 9)
    s = rng.randint(0, 1)
    if kind == 0:
        return make(s, rng.randint(-3, 3), [99] * rng.randint(1, 16))
    if kind == 1:
        return make(s, rng.randint(-3, 3), [1])
    if kind == 2:
        return make(s, rng.randint(-3, 3), [1] + [0] * 14 + [1])
    if kind == 3:
        return make(s, rng.randint(-3, 3), [50])
    if kind == 4:
        return rand_full(exp=rng.choice((MAXEXP, MAXEXP - 1, MINEXP, MINEXP + 1)))
    if kind == 5:
        return make(s, rng.choice((MAXEXP, MINEXP)), rand_digits(rng.randint(1, 4)))
    if kind == 6:
        return ZERO
    if kind == 7:
        return NEGZERO
    if kind == 8:
        return NULL
    return make(s, rng.randint(-3, 3), [rng.randint(1, 9)] + [99] * 15)


def rand_value():
    r = rng.random()
    if r < 0.3:
        return rand_money()
    if r < 0.55:
        return rand_full()
    if r < 0.65:
        return rand_full(first_low=True)
    if r < 0.8:
        return rand_short()
    return rand_special()


def with_gap(a, gap):
    """A value whose exponent lies gap below a's."""
    base = a[1] if has_digits(a) else 0
    e = max(MINEXP, min(MAXEXP, base - gap))
    r = rng.random()
    dg = rand_digits(16) if r < 0.5 else rand_digits(rng.randint(1, 4)) if r < 0.8 else [1]
    return make(rng.randint(0, 1), e, dg)


def operand_pairs(n):
    for _ in range(n):
        a = rand_value()
        r = rng.random()
        if r < 0.45:
            b = with_gap(a, rng.randint(0, 18))
            if rng.random() < 0.5:
                a, b = b, a
        elif r < 0.55:
            b = a if a is NULL else make(1 - a[0], a[1], a[2])  # x + (-x)
        else:
            b = rand_value()
        yield a, b


# The shapes where the arithmetic changes its way of working: operands that fit a machine word
# (counters, money) and results at the edge of eight pairs or of the exponent range; full values
# of one exponent whose sum carries out, rounding on a last digit of 49, 50 or 51; values whose
# smaller one reaches below the larger one's last digit by one half exactly or a little more;
# quotients with divisors of every length. They draw from a generator of their own, so the random
# cases above stay as they are.
shapes = random.Random(20260101)


def shape_value(pairs, exp, first=None, last=None, fill=None):
    dg = [fill if fill is not None else shapes.randint(0, 99) for _ in range(pairs)]
    dg[0] = first if first is not None else shapes.randint(1, 99)
    if pairs > 1:
        dg[-1] = last if last is not None else shapes.randint(1, 99)
    return make(shapes.randint(0, 1), exp, trimmed(dg))


def shaped_pairs(n):
    for _ in range(n):
        k = shapes.randint(0, 7)
        if k == 0:  # counters and small integers, whole or with one decimal pair
            a = from_int(shapes.randint(-10 ** 8, 10 ** 8) or 1)
            b = rng_choice_small()
        elif k == 1:  # money of different scales
            a = to_dec(Fraction(shapes.randint(1, 10 ** shapes.randint(1, 16)), 100) * shapes.choice((1, -1)))[1]
            b = to_dec(Fraction(shapes.randint(1, 10 ** shapes.randint(1, 16)), 10 ** shapes.randint(0, 6)))[1]
        elif k == 2:  # word-sized digits spanning up to nine pairs together
            pa, pb = shapes.randint(1, 8), shapes.randint(1, 8)
            ea = shapes.randint(-4, 8)
            a = shape_value(pa, ea)
            b = shape_value(pb, ea - shapes.randint(-3, 9 - pb), fill=shapes.choice((None, 99, 0)))
        elif k == 3:  # near the ends of the exponent range
            a = shape_value(shapes.randint(1, 8), shapes.choice((MAXEXP, MAXEXP - 1, MINEXP, MINEXP + 1, MINEXP + 4)))
            b = shape_value(shapes.randint(1, 8), shapes.choice((MAXEXP, 1, 0, -1, MINEXP, MINEXP + 3)))
        elif k == 4:  # sixteen pairs of one exponent; the sum's last digit decides its rounding
            e = shapes.randint(-3, 3)
            a = shape_value(16, e, first=shapes.randint(1, 99))
            b = shape_value(16, e, first=shapes.randint(1, 99))
            a = make(a[0], e, trimmed(list(a[2][:15]) + [0] * (15 - len(a[2][:15])) + [shapes.choice((49, 50, 51, 99, 1))]))
        elif k == 5:  # the smaller reaches below the larger's last digit: tails of one half and near it
            e = shapes.randint(-3, 3)
            d = shapes.randint(1, 17)
            a = shape_value(16, e, fill=shapes.choice((None, 0, 99)))
            tail = shapes.choice(([50], [50, 0, 0], [50, 1], [49, 99], [51], [1], [99, 99]))
            head = [shapes.randint(1, 99)] + [shapes.randint(0, 99) for _ in range(15 - d)] if d < 16 else []
            b = make(shapes.randint(0, 1), e - d if head else e - d - 1, trimmed((head + tail)[:16]))
        elif k == 6:  # divisors of every length, quotients near a power of 100
            a = shape_value(shapes.randint(1, 16), shapes.randint(-3, 3))
            b = shape_value(shapes.randint(1, 16), shapes.randint(-3, 3))
            if shapes.random() < 0.3:
                b = make(shapes.randint(0, 1), b[1], a[2])
        else:  # one value and its neighbour one unit in the last place away
            a = shape_value(shapes.randint(1, 16), shapes.randint(-3, 3))
            dg = list(a[2])
            i = len(dg) - 1
            dg[i] = dg[i] + 1 if dg[i] < 99 else dg[i] - 1
            b = make(1 - a[0] if shapes.random() < 0.5 else a[0], a[1], trimmed(dg) or [1])
        if shapes.random() < 0.5:
            a, b = b, a
        yield a, b


def rng_choice_small():
    r = shapes.random()
    if r < 0.4:
        return from_int(shapes.choice((1, -1, 2, 10, 100, 99, 101, 255, 10 ** 6)))
    if r < 0.7:
        return to_dec(Fraction(shapes.randint(1, 99), 10 ** shapes.randint(1, 2)))[1]  # 1.5, 0.25 ...
    return from_int(shapes.randint(-10 ** 12, 10 ** 12) or 7)


# ---- arithmetic ---------------------------------------------------------------------------------

def op_add(a, b, negate_b=False):
    if a is NULL or b is NULL:
        return 0, NULL
    if negate_b:
        b = make(1 - b[0], b[1], b[2])
    if not b[2]:  # a zero operand leaves the other one as it is
        return 0, a
    if not a[2]:
        return 0, b
    return to_dec(value(a) + value(b))


def op_sub(a, b):
    if a is NULL or b is NULL:
        return 0, NULL
    if not b[2]:
        return 0, a
    return op_add(a, b, negate_b=True)


def op_mul(a, b):
    if a is NULL or b is NULL:
        return 0, NULL
    return to_dec(value(a) * value(b))


def op_div(a, b):
    if a is NULL or b is NULL:
        return 0, NULL
    if not b[2]:
        return DIVZERO, ZERO
    return to_dec(value(a) / value(b))


def op_cmp(a, b):
    if a is NULL or b is NULL:
        return -2
    d = value(a) - value(b)
    return (d > 0) - (d < 0)


# ---- text to number ---------------------------------------------------------------------------

def parse_text(t):
    """(status, decimal) of text input; None for the decimal means 'sign null, rest unchanged'."""
    n, i = len(t), 0
    while i < n and t[i] == ' ':
        i += 1
    if i == n:
        return 0, None
    pos = 1
    if t[i] in '+-':
        pos = 0 if t[i] == '-' else 1
        i += 1
    digits, frac, point = '', 0, False
    while i < n:
        c = t[i]
        if c.isdigit() and c.isascii():
            if point:
                frac += 1
            if digits or c != '0':
                digits += c
        elif c == '.':
            if point:
                return NONNUM, None
            point = True
        else:
            break
        i += 1
    texp = 0
    if i < n:
        c = t[i]
        i += 1
        if c in 'eE' and i < n:
            neg = False
            if t[i] in '+-':
                neg = t[i] == '-'
                i += 1
            while i < n:
                c = t[i]
                i += 1
                if not (c.isdigit() and c.isascii()):
                    break
                texp = texp * 10 + int(c)
                if texp > 999:
                    return BADEXP, None
            if neg:
                texp = -texp
        if i < n and t[i] != ' ':
            return NONNUM, None
    if not digits:
        return 0, make(pos, 0, ())
    v = Fraction(int(digits)) * Fraction(10) ** (texp - frac)
    return to_dec(v if pos else -v)


def rand_text():
    r = rng.random()
    specials = ['', '   ', '-', '.', '+', '-.', '12x', '12xy', '12 3', '1..2', '1e1000', '1e', '1e999',
                '1e-999', '0.000', '-0', '-0.00', '1e5', '0.005', '123', ' 42 ', '42  junk', '1e5x', '1e5 x',
                '1e+', '1e-', '1ex', '- 5', 'x', 'ab', '+7', '007.50', '.5', '5.', '9' * 40, '0.' + '9' * 33,
                '1' + '0' * 39, '1e126', '1e127', '9.99999999999999999999999999999999e125', '1e-128',
                '1e-129', '5e-130', '1E3', '1e0009', '-1e-0', '3.14159265358979323846264338327950288']
    if r < 0.15:
        return rng.choice(specials)
    d = value(rand_value() or ZERO)
    sign = '-' if d < 0 else rng.choice(('', '', '+'))
    m = D(abs(d.numerator)) / D(d.denominator)
    nd = rng.randint(1, 40)
    text = format(m, '.%de' % (nd - 1)) if m else '0e0'
    mant, ex = text.split('e')
    ex = int(ex)
    style = rng.randint(0, 3)
    if style == 0:  # plain positional
        body = format(D(mant).scaleb(ex), 'f')
    elif style == 1:  # mantissa and exponent
        body = mant + rng.choice('eE') + str(ex)
    elif style == 2:  # digits shifted into the exponent
        k = rng.randint(-5, 5)
        body = format(D(mant).scaleb(-k), 'f') + 'e' + ('+' if rng.random() < 0.3 and ex + k >= 0 else '') + str(ex + k)
    else:  # leading zeros
        body = '0' * rng.randint(1, 4) + format(D(mant).scaleb(ex), 'f')
    text = ' ' * rng.randint(0, 2) + sign + body
    tail = rng.random()
    if tail < 0.1:
        text += ' '
    elif tail < 0.15:
        text += ' tail'
    elif tail < 0.2:
        text += 'x'
    return text


# ---- number to text ----------------------------------------------------------------------------

def shortest_decimals(d):
    pos, exp, dg = d
    dec = 2 * len(dg) - 2 * exp
    if dec != 0 and dg and dg[-1] % 10 == 0:
        dec -= 1
    return max(dec, 1)


def dec_value(d):
    v = value(d)
    return D(v.numerator) / D(v.denominator)


def fixed(m, dec):
    """m (a non-negative Decimal) rounded to dec places: (integer digits, fraction digits, pt).

    pt is the number of decimal digits before the point of the rounded value, or of m itself when
    that rounds to zero (negative below 0.1; -1 for zero), as the digit strings give it."""
    q = m.quantize(D(1).scaleb(-dec), rounding=decimal.ROUND_HALF_UP)
    s = format(q, 'f')
    ip, _, fp = s.partition('.')
    if q != 0:
        pt = q.adjusted() + 1
    else:
        pt = m.adjusted() + 1 if m != 0 else -1
    return ip if q >= 1 else '0', fp, pt


def exponent_form(d, m, width, neg, pt):
    while True:
        et = str(pt - 1)
        room = width - len(et) - 1 - neg
        if room < 1:
            return '0' + ' ' * (width - 1) if d[1] < -1 else '*' * width
        nd = max(1, room - 1)
        q = m.quantize(D(1).scaleb(m.adjusted() - nd + 1), rounding=decimal.ROUND_HALF_UP)
        if q.adjusted() + 1 != pt:
            pt = q.adjusted() + 1
            continue
        digits = str(q.scaleb(nd - 1 - q.adjusted()).to_integral_value())
        mant = digits[0]
        if nd > 1:
            mant = (digits[0] + '.' + digits[1:nd]).rstrip('0').rstrip('.')
        return (('-' if neg else '') + mant + 'e' + et).ljust(width)


def to_text(d, width, decimals):
    if width <= 0:
        return ''
    if d is NULL:
        return ' ' * width
    dec = shortest_decimals(d) if decimals < 0 else decimals
    neg = d[0] == 0 and len(d[2]) > 0
    m = abs(dec_value(d))
    ip, fp, pt = fixed(m, dec)
    # The fixed form's length: its pt + dec digits (none for the "0" of a value below one) and the
    # point unless the digits are all before it. A field short by no more than the decimals takes
    # that many fewer; whatever still does not fit is cut at the field's end.
    digits = min(max(pt + dec, 0), 150)
    excess = digits + (1 if digits != pt else 0) + neg - width
    if 0 < excess <= dec:
        dec -= excess
        ip, fp, pt = fixed(m, dec)
    if width - neg < pt:
        return exponent_form(d, m, width, neg, pt)
    out = ('-' if neg else '') + ip + '.' + fp[:dec].ljust(dec, '0')
    return out[:width].ljust(width)


# ---- integers and binary floating values ------------------------------------------------------

def from_int(n):
    return to_dec(Fraction(n))[1]


def to_long(d, bits):
    if d is NULL:
        return -(1 << (bits - 1))
    v = value(d)
    t = math.floor(abs(v)) if v >= 0 else -math.floor(abs(v))
    t &= (1 << bits) - 1
    return t - (1 << bits) if t >> (bits - 1) else t


def from_binary(x, digits):
    if math.isnan(x) or math.isinf(x):
        return NONNUM, NULL
    if x == 0:
        return 0, ZERO
    return to_dec(Fraction(D(format(x, '.%de' % (digits - 1)))))


def float32_bits(v):
    """Bits of the float nearest to the exact value v (ties to even)."""
    sign = 0x80000000 if v < 0 else 0
    m = abs(v)
    if m == 0:
        return sign
    e = m.numerator.bit_length() - m.denominator.bit_length()
    while m >= Fraction(2) ** (e + 1):
        e += 1
    while m < Fraction(2) ** e:
        e -= 1
    e = max(e, -126)  # subnormals share the smallest exponent
    q = m / Fraction(2) ** (e - 23)
    n = math.floor(q)
    rem = q - n
    if rem > Fraction(1, 2) or (rem == Fraction(1, 2) and n % 2):
        n += 1
    if n == 1 << 24:
        n, e = 1 << 23, e + 1
    if e > 127:
        return sign | 0x7F800000
    if n < 1 << 23:  # subnormal
        return sign | n
    return sign | ((e + 127) << 23) | (n - (1 << 23))


def double_bits(v):
    if v == 0:
        return 0
    return struct.unpack('<Q', struct.pack('<d', float(v)))[0]


def rand_double():
    r = rng.random()
    if r < 0.05:
        return rng.choice((math.nan, math.inf, -math.inf, 0.0, -0.0, 5e-324, 1.7976931348623157e308,
                           1e126, 9.999999999999999e125, 1e127, 1e-128, 1e-129, 0.1, 1234567890123456.5))
    if r < 0.35:
        return rng.randint(-10 ** 9, 10 ** 9) / 100
    if r < 0.7:
        return rng.uniform(-1, 1) * 10 ** rng.randint(-30, 30)
    return struct.unpack('<d', struct.pack('<Q', rng.getrandbits(64)))[0]


def rand_float():
    r = rng.random()
    if r < 0.05:
        x = rng.choice((math.nan, math.inf, 0.0, 1e-45, 3.4028234663852886e38, 0.1))
        return struct.unpack('<f', struct.pack('<f', x))[0]
    bits = rng.getrandbits(32) if r < 0.5 else struct.unpack('<I', struct.pack('<f', rng.uniform(-1e6, 1e6)))[0]
    return struct.unpack('<f', struct.pack('<I', bits))[0]


def hexfloat(x):
    if math.isnan(x):
        return 'nan'
    if math.isinf(x):
        return 'inf' if x > 0 else '-inf'
    return x.hex()


# ---- packed form --------------------------------------------------------------------------------

def complement(dg):
    dg = list(dg)
    last = len(dg) - 1
    while last >= 0 and dg[last] == 0:
        last -= 1
    if last >= 0:
        dg[last] = 100 - dg[last]
        for i in range(last):
            dg[i] = 99 - dg[i]
    return dg


def pack(d, length):
    """(status, bytes or None, loaded-back decimal)."""
    if d is NULL:
        return 0, bytes(length), NULL
    pos, exp, dg = d
    keep = min(length - 1, 16)
    kept = list(dg[:keep]) + [0] * (keep - min(keep, len(dg)))
    if len(dg) > keep > 0 and dg[keep] >= 50:
        i = keep - 1
        while i >= 0 and kept[i] == 99:
            kept[i] = 0
            i -= 1
        if i < 0:
            kept[0] = 1
            exp += 1
        else:
            kept[i] += 1
    neg = pos == 0 and len(dg) > 0
    if exp > MAXEXP or (neg and exp == MAXEXP):
        return OVERFLOW, None, None
    loaded = make(0 if neg else 1, exp, trimmed(kept)) if any(kept) else ZERO
    header = (exp + 192) & 0xFF
    if neg:
        header = ~header & 0xFF
        kept = complement(kept)
    return 0, bytes([header] + kept + [0] * (length - 1 - keep)), loaded


# ---- the table --------------------------------------------------------------------------------

def main():
    out = []

    def row(*fields):
        out.append('\t'.join(str(f) for f in fields))

    for name, fn in (('add', op_add), ('sub', op_sub), ('mul', op_mul), ('div', op_div)):
        for a, b in operand_pairs(3000):
            status, r = fn(a, b)
            row(name, image(a), image(b), status, image(r), describe(a) + ' ' + name + ' ' + describe(b))
        for a, b in shaped_pairs(3000):
            status, r = fn(a, b)
            row(name, image(a), image(b), status, image(r), describe(a) + ' ' + name + ' ' + describe(b))
    for a, b in operand_pairs(1500):
        row('cmp', image(a), image(b), op_cmp(a, b), describe(a) + ' cmp ' + describe(b))
    for a, b in shaped_pairs(1500):
        row('cmp', image(a), image(b), op_cmp(a, b), describe(a) + ' cmp ' + describe(b))
    for _ in range(4000):
        t = rand_text()
        status, r = parse_text(t)
        row('cvasc', t.encode().hex() or '-', status, image(r) if r is not None else 'unchanged', repr(t))
    for _ in range(5000):
        d = rand_value()
        width = rng.choice((rng.randint(1, 12), rng.randint(1, 45), 40))
        decimals = rng.choice((-1, -1, 0, 1, 2, 2, 4, rng.randint(0, 36)))
        row('toasc', image(d), width, decimals, to_text(d, width, decimals).encode().hex() or '-', describe(d))
    for _ in range(800):
        r = rng.random()
        n = rng.choice((0, 1, -1, 99, 100, -100, 2 ** 63 - 1, -2 ** 63, -2 ** 63 + 1, 10 ** 18, 150670)) if r < 0.1 \
            else rng.randint(-2 ** 63, 2 ** 63 - 1) if r < 0.5 else rng.randint(-10 ** 6, 10 ** 6) * 10 ** rng.randint(0, 12)
        n = max(-2 ** 63, min(2 ** 63 - 1, n))
        row('cvlong', n, image(NULL if n == -2 ** 63 else from_int(n)), n)
        m = n if -2 ** 31 <= n < 2 ** 31 else rng.randint(-2 ** 31, 2 ** 31 - 1)
        row('cvint', m, image(NULL if m == -2 ** 31 else from_int(m)), m)
    for _ in range(1500):
        d = rand_value()
        row('tolong', image(d), to_long(d, 64), describe(d))
        row('toint', image(d), to_long(d, 32), describe(d))
        if d is NULL:
            dbl, flt = 0, 0
        elif not d[2]:
            dbl = 0x8000000000000000 if d[0] == 0 else 0
            flt = 0x80000000 if d[0] == 0 else 0
        else:
            dbl = double_bits(value(d)) if abs(value(d)) < 1e300 else None
            flt = float32_bits(value(d))
        if dbl is not None:
            row('todbl', image(d), '%016X' % dbl, describe(d))
        row('toflt', image(d), '%08X' % flt, describe(d))
    for _ in range(1500):
        x = rand_double()
        status, r = from_binary(x, 16)
        row('cvdbl', hexfloat(x), status, image(r), repr(x))
        f = rand_float()
        status, r = from_binary(f, 8)
        row('cvflt', hexfloat(f), status, image(r), repr(f))
    for _ in range(2000):
        d = rand_value()
        length = rng.choice((17, 17, 9, rng.randint(1, 20)))
        status, data, loaded = pack(d, length)
        row('pack', image(d), length, status, data.hex().upper() if data is not None else 'unchanged',
            image(loaded) if loaded is not None or d is NULL else 'unchanged', describe(d))
    with open(sys.argv[1], 'w') as f:
        f.write('\n'.join(out) + '\n')


main()
