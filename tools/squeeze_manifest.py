#!/usr/bin/env python3
"""Writes the application manifest without comments and without the
whitespace between elements: every byte of it is carried in SETUP.EXE."""
import os
import re
import sys

text = open(sys.argv[1], encoding="utf-8").read()
text = re.sub(r"<!--.*?-->", "", text, flags=re.S)
text = re.sub(r">\s+<", "><", text.strip())
text = re.sub(r"\s+", " ", text)
if "<!--" in text or "requestedExecutionLevel" not in text:
    sys.exit("squeeze_manifest: the manifest lost its elements")
# Run alone, as a parallel build may, it finds no folder made for it.
os.makedirs(os.path.dirname(os.path.abspath(sys.argv[2])), exist_ok=True)
open(sys.argv[2], "w", encoding="utf-8", newline="\n").write(text)
