"""Compares a saved workbook with the original: prints the cells whose
values differ (sheet, cell, old, new), the members whose bytes differ
(other than the workbook part and worksheets), and whether the workbook asks
for a full calculation on load."""
import sys
import zipfile
import openpyxl

saved, orig = sys.argv[1], sys.argv[2]
a = openpyxl.load_workbook(saved)
b = openpyxl.load_workbook(orig)
out = []
for ws in a.worksheets:
    for row in ws.iter_rows():
        for c in row:
            old = b[ws.title][c.coordinate].value
            if c.value != old:
                out.append("cell %s!%s %s %s" % (ws.title, c.coordinate, old, c.value))
za, zb = zipfile.ZipFile(saved), zipfile.ZipFile(orig)
if sorted(za.namelist()) != sorted(zb.namelist()):
    out.append("members differ")
for n in zb.namelist():
    if n == "xl/workbook.xml" or n.startswith("xl/worksheets/"):
        continue
    if n in za.namelist() and za.read(n) != zb.read(n):
        out.append("member " + n)
names = [(d.name, d.attr_text) for d in a.defined_names.definedName]
if names != [(d.name, d.attr_text) for d in b.defined_names.definedName]:
    out.append("names differ")
out.append("fullCalcOnLoad %s" % a.calculation.fullCalcOnLoad)
print("\n".join(out))
