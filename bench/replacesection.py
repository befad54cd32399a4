#!/usr/bin/env python3
"""Puts a section into a Markdown document, replacing the section of the same heading.

Usage: bench/replacesection.py DOC SECTION_FILE HEADING

The section runs from its heading line (HEADING, as "## ...") to the next "## " heading;
only it is replaced, and the sections before and after it stay as they are. A document
without that heading gets the section at its end; a document that does not exist yet is
made with a "# Benchmarks" title.
"""
import pathlib
import re
import sys

doc, section = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]).read_text().rstrip("\n")
heading = sys.argv[3]
text = doc.read_text() if doc.exists() else "# Benchmarks\n"
start = text.find(heading + "\n")
if start < 0:
    text = text.rstrip("\n") + "\n\n" + section + "\n"
else:
    nxt = re.compile(r"^## ", re.M).search(text, start + len(heading))
    rest = text[nxt.start():] if nxt else ""
    text = text[:start] + section + "\n" + ("\n" + rest if rest else "")
doc.write_text(text)
