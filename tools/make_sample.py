#!/usr/bin/env python3
"""Lays out the sample product's distribution directory: the files of
sample/dist with texts turned into code page 932 and CRLF line ends (what a
Japanese product maker ships), plus SETUP.EXE and APP.EXE from the build."""
import os
import shutil
import sys

source, target = sys.argv[1], sys.argv[2]
binaries = sys.argv[3:]
os.makedirs(target, exist_ok=True)
for folder, _, names in os.walk(source):
    for name in names:
        src = os.path.join(folder, name)
        dst = os.path.join(target, os.path.relpath(src, source))
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(src, encoding="utf-8") as f:
            text = f.read()
        with open(dst, "wb") as f:
            f.write(text.replace("\n", "\r\n").encode("cp932"))
for binary in binaries:
    shutil.copyfile(binary, os.path.join(target, os.path.basename(binary)))
