#!/usr/bin/env python3
"""Writes a small OpenDocument text template for the filling tests.

make_template.py OUT [NAME=@FILE]... [NAME=TEXT]... [--drop NAME]... [--link NAME=TARGET]

Every part is hand-written here. NAME=... replaces or adds the entry NAME (from a file with @),
--drop leaves a default part out, --link adds an entry marked as a symbolic link.
"""
import stat
import sys
import zipfile

MIMETYPE = "application/vnd.oasis.opendocument.text"

# The package's own entry has the media type of its mimetype: an office suite refuses a package
# whose two disagree.
MANIFEST = """<?xml version="1.0" encoding="UTF-8"?>
<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2"><manifest:file-entry manifest:full-path="/" manifest:media-type="{mimetype}"/><manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/><manifest:file-entry manifest:full-path="styles.xml" manifest:media-type="text/xml"/><manifest:file-entry manifest:full-path="meta.xml" manifest:media-type="text/xml"/></manifest:manifest>
"""

NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
      'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
      'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
      'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
      'xmlns:xlink="http://www.w3.org/1999/xlink" '
      'xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" '
      'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
      'xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0" '
      'xmlns:dc="http://purl.org/dc/elements/1.1/" office:version="1.2"')

CONTENT = f"""<?xml version="1.0" encoding="UTF-8"?>
<office:document-content {NS}><office:scripts/><office:font-face-decls><style:font-face style:name="Liberation Serif" svg:font-family="&apos;Liberation Serif&apos;" style:font-pitch="variable"/></office:font-face-decls><office:automatic-styles><style:style style:name="P1" style:family="paragraph"><style:paragraph-properties fo:text-align="center"/></style:style><style:style style:name="T1" style:family="text"><style:text-properties fo:font-style="italic"/></style:style></office:automatic-styles><office:body><office:text><text:p text:style-name="P1">Dear {{TITLE}} {{NAME}},</text:p><text:p text:style-name="Standard">R&amp;D &lt;ok&gt;</text:p></office:text></office:body></office:document-content>
"""

# The parts in the order and shape office suites write them: styles.xml has the font declarations,
# then the common styles, then the automatic ones (so the node before the automatic styles is
# office:styles), then the master pages with a header and a footer.
STYLES = f"""<?xml version="1.0" encoding="UTF-8"?>
<office:document-styles {NS}><office:font-face-decls><style:font-face style:name="Liberation Serif" svg:font-family="&apos;Liberation Serif&apos;" style:font-family-generic="roman" style:font-pitch="variable"/></office:font-face-decls><office:styles><style:default-style style:family="paragraph"><style:text-properties style:font-name="Liberation Serif" fo:font-size="12pt"/></style:default-style><style:style style:name="Standard" style:family="paragraph" style:class="text"/><style:style style:name="Header" style:family="paragraph" style:parent-style-name="Standard" style:class="extra"/><style:style style:name="Footer" style:family="paragraph" style:parent-style-name="Standard" style:class="extra"/></office:styles><office:automatic-styles><style:style style:name="MP1" style:family="paragraph" style:parent-style-name="Footer"><style:paragraph-properties fo:text-align="end"/></style:style><style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="21.001cm" fo:page-height="29.7cm" style:print-orientation="portrait" fo:margin-top="2cm" fo:margin-bottom="2cm" fo:margin-left="2cm" fo:margin-right="2cm"/><style:header-style><style:header-footer-properties fo:min-height="0cm" fo:margin-bottom="0.499cm"/></style:header-style><style:footer-style><style:header-footer-properties fo:min-height="0cm" fo:margin-top="0.499cm"/></style:footer-style></style:page-layout></office:automatic-styles><office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1"><style:header><text:p text:style-name="Header">Page header {{HEAD}}</text:p></style:header><style:footer><text:p text:style-name="MP1">Page footer {{FOOT}}</text:p></style:footer></style:master-page></office:master-styles></office:document-styles>
"""

META = f"""<?xml version="1.0" encoding="UTF-8"?>
<office:document-meta {NS}><office:meta><meta:generator>Hand/1.0</meta:generator><meta:editing-cycles>7</meta:editing-cycles><dc:title>Template</dc:title></office:meta></office:document-meta>
"""


def main(argv):
    out = argv[0]
    parts = {"mimetype": MIMETYPE, "META-INF/manifest.xml": MANIFEST, "content.xml": CONTENT,
             "styles.xml": STYLES, "meta.xml": META}
    links = []
    args = iter(argv[1:])
    for a in args:
        if a == "--drop":
            parts.pop(next(args))
        elif a == "--link":
            links.append(next(args).split("=", 1))
        else:
            name, value = a.split("=", 1)
            if value.startswith("@"):
                with open(value[1:], encoding="utf-8") as f:
                    value = f.read()
            parts[name] = value
    if parts.get("META-INF/manifest.xml") is MANIFEST:
        parts["META-INF/manifest.xml"] = MANIFEST.replace("{mimetype}", parts.get("mimetype", MIMETYPE))
    with zipfile.ZipFile(out, "w") as z:
        for name, text in parts.items():
            kind = zipfile.ZIP_STORED if name == "mimetype" else zipfile.ZIP_DEFLATED
            z.writestr(zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0)), text, compress_type=kind)
        for name, target in links:
            info = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
            info.create_system = 3
            info.external_attr = (stat.S_IFLNK | 0o777) << 16
            z.writestr(info, target)


if __name__ == "__main__":
    main(sys.argv[1:])
