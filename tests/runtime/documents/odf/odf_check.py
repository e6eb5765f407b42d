#!/usr/bin/env python3
"""The independent reader of the packages the filling tests write (zipfile, ElementTree).

odf_check.py package PATH      the archive: entries, the first one, testzip, xmllint, file
odf_check.py paras PATH PART   each text:p of PART: its style and its runs, "[style:text]" for spans
odf_check.py style PATH PART NAME   the text properties of automatic style NAME ("name=value;")
odf_check.py fonts PATH PART   the names of the declared font faces
odf_check.py tables PATH PART  each table: its rows, cells separated by " | ", paragraphs by "/"
odf_check.py frames PATH PART  each draw:frame: its attributes and its image's link
odf_check.py same PATH NAME FILE   whether entry NAME holds the bytes of FILE
odf_check.py cells PATH PART  each table cell: its style, value type and value
odf_check.py count PATH PART TEXT  how often TEXT occurs in PART
odf_check.py show PATH         the entries, content.xml and styles.xml formatted (to look at)
odf_check.py part PATH NAME    the entry NAME as it is
odf_check.py raw PATH NAME     the entry NAME as stored: method, CRC, sizes, SHA-256 of its
                               compressed bytes (read from the archive, not inflated)
odf_check.py batch CMD ARGS -- CMD ARGS ...   several of the above in one run, each output ended
                                              by a line holding one NUL
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

NS = {
    "office": "urn:oasis:names:tc:opendocument:xmlns:office:1.0",
    "style": "urn:oasis:names:tc:opendocument:xmlns:style:1.0",
    "text": "urn:oasis:names:tc:opendocument:xmlns:text:1.0",
    "fo": "urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0",
    "svg": "urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0",
    "table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
    "draw": "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0",
    "xlink": "http://www.w3.org/1999/xlink",
    "manifest": "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0",
}
PREFIX = {v: k for k, v in NS.items()}


def short(name):
    if name.startswith("{"):
        uri, local = name[1:].split("}")
        return PREFIX.get(uri, uri) + ":" + local
    return name


def q(name):
    p, local = name.split(":")
    return "{%s}%s" % (NS[p], local)


def package(path):
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
        print("names:", ",".join(i.filename for i in infos))
        first = infos[0]
        kind = "stored" if first.compress_type == zipfile.ZIP_STORED else "compressed"
        print("first:", first.filename, kind, "extra=%d" % len(first.extra))
        print("testzip:", z.testzip() or "ok")
        xml = [i for i in infos if i.filename.endswith(".xml")]
        with tempfile.TemporaryDirectory() as d:
            # One xmllint for all the parts; each alone only when one of them fails.
            files = []
            for n, i in enumerate(xml):
                files.append(os.path.join(d, "%d.xml" % n))
                with open(files[-1], "wb") as f:
                    f.write(z.read(i))
            bad = []
            if files and subprocess.run(["xmllint", "--noout"] + files, capture_output=True).returncode:
                bad = [i.filename for i, f in zip(xml, files)
                       if subprocess.run(["xmllint", "--noout", f], capture_output=True).returncode]
        print("xmllint:", ",".join(bad) or "ok")
    r = subprocess.run(["file", "-b", path], capture_output=True, text=True)
    print("file:", r.stdout.strip())


def runs(element):
    out = element.text or ""
    for child in element:
        if child.tag == q("text:span"):
            out += "[%s:%s]" % (child.get(q("text:style-name"), ""), runs(child))
        elif child.tag == q("text:s"):
            out += "<s%s>" % (child.get(q("text:c"), ""))
        else:
            out += "<%s>" % short(child.tag) + runs(child)
        out += child.tail or ""
    return out


def paras(path, part):
    with zipfile.ZipFile(path) as z:
        root = ET.fromstring(z.read(part))
    for p in root.iter(q("text:p")):
        print("%s|%s" % (p.get(q("text:style-name"), ""), runs(p)))


def style(path, part, name):
    with zipfile.ZipFile(path) as z:
        root = ET.fromstring(z.read(part))
    auto = root.find(q("office:automatic-styles"))
    for s in auto:
        if s.get(q("style:name")) == name:
            print("parent=%s;" % s.get(q("style:parent-style-name"), ""), end="")
            for props in s.findall(q("style:text-properties")):
                print("".join("%s=%s;" % kv for kv in sorted((short(k), v) for k, v in props.attrib.items())), end="")
            print()
            return
    print("none")


def fonts(path, part):
    with zipfile.ZipFile(path) as z:
        root = ET.fromstring(z.read(part))
    decls = root.find(q("office:font-face-decls"))
    print(",".join(f.get(q("style:name")) for f in decls))


def tables(path, part):
    with zipfile.ZipFile(path) as z:
        root = ET.fromstring(z.read(part))
    for t in root.iter(q("table:table")):
        print("table %s" % t.get(q("table:name"), ""))
        for row in t.iter(q("table:table-row")):
            cells = ["/".join(runs(p) for p in cell.iter(q("text:p"))) for cell in row.findall(q("table:table-cell"))]
            print(" | ".join(cells))


def frames(path, part):
    with zipfile.ZipFile(path) as z:
        root = ET.fromstring(z.read(part))
    for f in root.iter(q("draw:frame")):
        attrs = ["%s=%s" % (short(k), v) for k, v in f.attrib.items()]
        for image in f.findall(q("draw:image")):
            attrs.append("href=" + image.get(q("xlink:href"), ""))
        print(" ".join(attrs))


def same(path, name, file):
    with zipfile.ZipFile(path) as z, open(file, "rb") as f:
        print("same" if z.read(name) == f.read() else "differs")


def cells(path, part):
    with zipfile.ZipFile(path) as z:
        root = ET.fromstring(z.read(part))
    office = "urn:oasis:names:tc:opendocument:xmlns:office:1.0"
    for t in root.iter(q("table:table")):
        print("table %s %s" % (t.get(q("table:name"), ""), t.get(q("table:style-name"), "")))
        for cell in t.iter(q("table:table-cell")):
            print("%s %s %s|%s" % (cell.get(q("table:style-name"), ""), cell.get("{%s}value-type" % office, ""),
                                   cell.get("{%s}value" % office, "-"),
                                   "/".join("%s:%s" % (p.get(q("text:style-name"), ""), runs(p))
                                            for p in cell.iter(q("text:p")))))


def count(path, part, text):
    with zipfile.ZipFile(path) as z:
        print(z.read(part).decode().count(text))


def show(path):
    with zipfile.ZipFile(path) as z:
        print(path, z.namelist())
        for part in ("content.xml", "styles.xml"):
            print("----", part)
            r = subprocess.run(["xmllint", "--format", "-"], input=z.read(part), capture_output=True)
            print(r.stdout.decode())


def part(path, name):
    with zipfile.ZipFile(path) as z:
        sys.stdout.write(z.read(name).decode())


def raw(path, name):
    with zipfile.ZipFile(path) as z, open(path, "rb") as f:
        i = z.getinfo(name)
        f.seek(i.header_offset)
        local = f.read(30)
        skip = int.from_bytes(local[26:28], "little") + int.from_bytes(local[28:30], "little")
        f.seek(i.header_offset + 30 + skip)
        digest = hashlib.sha256()
        left = i.compress_size
        while left:
            piece = f.read(min(left, 1 << 20))
            digest.update(piece)
            left -= len(piece)
        print("method=%d crc=%08x size=%d compressed=%d sha256=%s" % (i.compress_type, i.CRC, i.file_size,
                                                                    i.compress_size, digest.hexdigest()))


COMMANDS = {"raw": raw, "package": package, "paras": paras, "style": style, "fonts": fonts, "tables": tables, "frames": frames,
            "cells": cells, "count": count, "same": same, "show": show, "part": part}


def batch(*args):
    """A test's several checks of one package in one Python start, which costs more than a check."""
    command = []
    for a in list(args) + ["--"]:
        if a != "--":
            command.append(a)
            continue
        COMMANDS[command[0]](*command[1:])
        print("\0", flush=True)
        command = []


if __name__ == "__main__":
    dict(COMMANDS, batch=batch)[sys.argv[1]](*sys.argv[2:])
