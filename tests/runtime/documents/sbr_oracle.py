#!/usr/bin/env python3
"""An independent reading of an SBR instance document: the six lists of the import, computed from
the document's tree as read by xml.etree.ElementTree (which joins a text's pieces itself), with
plain linear lookups.

Prints each list as "== list N" followed by one "name<TAB>value" line per element, backslash,
newline, tab and carriage return written as \\\\, \\n, \\t and \\r."""

import sys
import xml.etree.ElementTree as ET

TUPLE = "itpaygwithholdingdetails"
AMOUNT = "IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount"
CODE = "IncomeTax.PayAsYouGoWithholding.PaymentType.Code"


def local(name):
    return name.rsplit("}", 1)[-1]


class NamedList:
    """A string list whose elements carry names, in order."""

    def __init__(self):
        self.items = []

    def add(self, name, value):
        self.items.append([name, value])
        return len(self.items)

    def set(self, name, value):
        for item in self.items:
            if item[0] == name:
                item[1] = value
                return
        self.items.append([name, value])

    def get(self, name):
        for item in self.items:
            if item[0] == name:
                return item[1]
        return None

    def index(self, name):
        for i, item in enumerate(self.items, 1):
            if item[0] == name:
                return i
        return 0


class Reader:
    def __init__(self):
        self.lists = [NamedList() for _ in range(6)]
        self.contexts = []  # [id, name, din]; those before count are complete
        self.count = 0

    # The context table.
    def find(self, cid):
        for entry in self.contexts[: self.count]:
            if entry[0].lower() == cid.lower():
                return entry
        return None

    def convert(self, cid):
        entry = self.find(cid)
        return entry[1] if entry else cid

    def din_of(self, cid):
        entry = self.find(cid)
        return entry[2] if entry else ""

    def building(self):
        while len(self.contexts) <= self.count:
            self.contexts.append(["", "", ""])
        return self.contexts[self.count]

    def append_context(self, member):
        abbr = "".join(c for c in member if "A" <= c <= "Z")
        entry = self.building()
        if not entry[1]:
            entry[1] = abbr
            return
        parts = entry[1].split(".")
        for i, part in enumerate(parts):
            if part == abbr:
                return
            if part < abbr:
                parts.insert(i, abbr)
                entry[1] = ".".join(parts)
                return
        entry[1] += "." + abbr

    # Values.
    def lookup(self, name, din, context):
        values, contexts, dins = self.lists[0], self.lists[3], self.lists[4]
        for i, item in enumerate(values.items, 1):
            if item[0] != name:
                continue
            key = str(i)
            has = contexts.get(key)
            if dins.get(key) == din and ((has is None and context is None) or (has is not None and has == context)):
                return i
        return 0

    def keyed(self, index, placing):
        context, din, editable, visible = placing
        key = str(index)
        self.lists[4].set(key, din)
        if context is not None:
            self.lists[3].set(key, context)
        if editable is not None:
            self.lists[1].set(key, editable)
        if visible is not None:
            self.lists[2].set(key, visible)

    def placing(self):
        ref = self.attr("contextref")
        if ref is not None:
            context, din = self.convert(ref), self.din_of(ref)
        else:
            context, din = None, (self.din_of(self.context_id) if self.context is not None else "")
        return context, din, self.attr("iseditable"), self.attr("isvisible")

    def attr(self, name):
        for k, v in self.attrs:
            if k == name:
                return v
        return None

    # The walk.
    def read(self, root, second):
        self.second = second
        self.path = ""
        self.element = ""
        self.context = None
        self.context_el = ""
        self.context_id = ""
        self.in_tuple = False
        self.tuple = {}
        self.walk(root)

    def walk(self, e):
        self.start(e)
        if e.text is not None:
            self.text(e.text)
        for child in e:
            self.walk(child)
        self.end(e)

    def start(self, e):
        self.join = True
        loc = local(e.tag)
        if not self.in_tuple and loc.lower() == TUPLE:
            self.in_tuple = True
        self.attrs = [(local(k).lower(), v) for k, v in e.attrib.items()]
        if loc.lower() in ("context", "unit") and self.attr("id") is not None:
            cid = self.attr("id")
            self.context = self.convert(cid) if self.second else cid
            self.context_el, self.context_id = loc, cid
        self.element = loc + ("*" + self.context if self.context is not None else "")
        self.path = self.element if not self.path else self.path + "^" + self.element
        if not self.second and self.context is not None and loc.lower() == "context":
            self.building()[0] = self.context

    def text(self, text):
        text = text.lstrip(" \t\n\r")
        if not text:
            return
        if self.second and not self.in_tuple:
            placing = self.placing()
            context, din = placing[0], placing[1]
            by_path = self.lookup(self.path, din, context)
            by_name = self.lookup(self.element, din, context)
            for name, index in ((self.element, by_name), (self.path, by_path)):
                if index:
                    item = self.lists[0].items[index - 1]
                    item[1] += ("\n" if self.join else "") + text
                else:
                    self.keyed(self.lists[0].add(name, text), placing)
        elif self.second:
            if self.element.lower() == AMOUNT.lower():
                self.tuple["amount"] = text
            if self.element.lower() == CODE.lower():
                self.tuple["code"] = text
        elif self.element.lower().startswith("explicitmember"):
            if ":" in text:
                self.append_context(text.split(":", 1)[1])
        elif self.element.lower().startswith("businessdocument.governmentgeneratedidentifier.text"):
            ref = self.attr("contextref")
            entry = self.find(ref) if ref is not None else None
            if entry:
                entry[2] = text
        self.join = False

    def end(self, e):
        loc = local(e.tag)
        if self.in_tuple:
            if loc.lower() == TUPLE:
                if self.second:
                    t = self.tuple
                    name = AMOUNT + "#" + t.get("code", "")
                    self.lists[0].set(name, t.get("amount", ""))
                    key = str(self.lists[0].index(name))
                    self.lists[4].set(key, t.get("din", ""))
                    self.lists[3].set(key, t.get("context", ""))
                    self.lists[1].set(key, t.get("editable", ""))
                    self.lists[2].set(key, t.get("visible", ""))
                self.tuple = {}
                self.in_tuple = False
            elif loc.lower() == AMOUNT.lower():
                ref = self.attr("contextref")
                if ref is not None:
                    self.tuple["context"], self.tuple["din"] = self.convert(ref), self.din_of(ref)
                for a, field in (("iseditable", "editable"), ("isvisible", "visible")):
                    if self.attr(a) is not None:
                        self.tuple[field] = self.attr(a)
        elif self.second:
            placing = self.placing()
            context, din = placing[0], placing[1]
            by_path = self.lookup(self.path, din, context)
            by_name = self.lookup(self.element, din, context)
            if not by_path:
                by_path = self.lists[0].add(self.path, "")
                self.keyed(by_path, placing)
            if not by_name:
                by_name = self.lists[0].add(self.element, "")
                self.keyed(by_name, placing)
            self.keyed(by_path, placing)
            self.keyed(by_name, placing)
        elif loc.lower() == "context":
            self.building()
            self.count += 1
        self.attrs = []
        if "^" not in self.path:
            self.path, self.element, self.context = "", "", None
            return
        self.path = self.path.rsplit("^", 1)[0]
        if self.context is not None and loc.lower() == self.context_el.lower():
            self.context = None
        self.element = self.path.rsplit("^", 1)[-1]


def escape(s):
    return s.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t").replace("\r", "\\r")


def main():
    root = ET.parse(sys.argv[1]).getroot()
    r = Reader()
    r.attrs = []
    r.read(root, False)
    r.read(root, True)
    for entry in r.contexts[: r.count]:
        if entry[2]:
            r.lists[5].set(entry[2], entry[2])
    for n, lst in enumerate(r.lists, 1):
        print("== list %d" % n)
        for name, value in lst.items:
            print(escape(name) + "\t" + escape(value))


if __name__ == "__main__":
    main()
