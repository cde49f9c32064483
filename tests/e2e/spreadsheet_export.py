#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# What LibreOffice Calc makes of the history's export: text a child typed
# stays text, never a live formula, while dates are dates and the program's
# own numbers are numbers.
#   spreadsheet_export.py HISTORY_PROBE ADDITIONS_PROGRES
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
import zipfile

probe, progres = sys.argv[1:3]
TABLE = "{urn:oasis:names:tc:opendocument:xmlns:table:1.0}"
OFFICE = "{urn:oasis:names:tc:opendocument:xmlns:office:1.0}"
# Player key and answer as typed: each would run as a formula, or be read as
# a number, if written as it stands.
TYPED = [("=1+1", '=HYPERLINK("http://x","y")'),
         ("1_joueur", "@SUM(1+1)*cmd|'/C calc'!A0"),
         ("1_joueur", "+47"), ("1_joueur", "-2"), ("1_joueur", "\t3")]


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


with tempfile.TemporaryDirectory() as scratch:
    env = dict(os.environ, XDG_DATA_HOME=scratch, HOME=scratch)
    for player, answer in TYPED:
        subprocess.run([probe, player, "1", answer], env=env, check=True,
                       stdout=subprocess.DEVNULL)
    csv = os.path.join(scratch, "export.csv")
    subprocess.run([progres, "--exporter", csv], env=env, check=True)
    # Field separator ';', text in '"', UTF-8, from the first line.
    subprocess.run(["soffice", "-env:UserInstallation=file://" + scratch + "/profile",
                    "--headless", "--infilter=CSV:59,34,76,1", "--convert-to", "ods",
                    "--outdir", scratch, csv], env=env, check=True, timeout=120,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with zipfile.ZipFile(os.path.join(scratch, "export.ods")) as ods:
        content = ods.read("content.xml")
if b"table:formula" in content:
    fail("a formula reached the spreadsheet")
rows = []
for row in ElementTree.fromstring(content).iter(TABLE + "table-row"):
    cells = []
    for cell in row.iter(TABLE + "table-cell"):
        repeat = int(cell.get(TABLE + "number-columns-repeated", "1"))
        text = "".join(cell.itertext())
        cells += [(cell.get(OFFICE + "value-type"), text)] * min(repeat, 20)
    rows.append(cells)
header = [text for _, text in rows[0]]
if header[:10] != ["date", "joueur", "niveau", "premier nombre", "second nombre", "réponse",
                   "juste", "mise", "score", "score gardé"]:
    fail("header: %r" % header)
for (player, answer), cells in zip(TYPED, rows[1:]):
    kinds = [kind for kind, _ in cells]
    if kinds[0] != "date" or kinds[2] != "float" or kinds[7] != "float" or kinds[8] != "float":
        fail("dates and numbers are not read as such: %r" % cells[:10])
    for column, typed in ((1, player), (5, answer)):
        if kinds[column] != "string" or typed.strip() not in cells[column][1]:
            fail("%r was not kept as text: %r" % (typed, cells[column]))
print("%d passed, 0 failed" % len(TYPED))
