"""Writes the test workbooks (openpyxl) into the directory given as the first argument.

book.xlsx: Sheet1 with A1 "hello", B4 12.5, B5 =B4*2 (cached 25), B6 3;
"My Sheet" with C2 0.5 and D9 "keep"; names Total, Label, Double, Three,
Rate (on the quoted sheet) and Const (no cell).
many.xlsx: 35 names N01..N35 on Sheet1!A1..A35, holding 100 letters x, then
2..35.
"""
import sys
import zipfile
import os
from openpyxl import Workbook
from openpyxl.workbook.defined_name import DefinedName


def add_name(wb, name, ref):
    dn = DefinedName(name, attr_text=ref)
    wb.defined_names.append(dn)


def book(path):
    wb = Workbook()
    s1 = wb.active
    s1.title = "Sheet1"
    s1["A1"] = "hello"
    s1["B4"] = 12.5
    s1["B5"] = "=B4*2"
    s1["B6"] = 3
    s2 = wb.create_sheet("My Sheet")
    s2["C2"] = 0.5
    s2["D9"] = "keep"
    add_name(wb, "Total", "Sheet1!$B$4")
    add_name(wb, "Label", "Sheet1!$A$1")
    add_name(wb, "Double", "Sheet1!$B$5")
    add_name(wb, "Three", "Sheet1!$B$6")
    add_name(wb, "Rate", "'My Sheet'!$C$2")
    add_name(wb, "Const", "0.5")
    wb.save(path)
    # A spreadsheet program stores the result of a formula beside it.
    with zipfile.ZipFile(path) as z:
        members = [(i, z.read(i.filename)) for i in z.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for info, data in members:
            if info.filename == "xl/worksheets/sheet1.xml":
                data = data.replace(b"<f>B4*2</f><v></v>", b"<f>B4*2</f><v>25</v>")
                data = data.replace(b"<f>B4*2</f><v />", b"<f>B4*2</f><v>25</v>")
                if b"<v>25</v>" not in data:
                    data = data.replace(b"<f>B4*2</f>", b"<f>B4*2</f><v>25</v>")
            if info.filename == "xl/workbook.xml":
                # A workbook that does not yet ask for a calculation on load.
                data = data.replace(b' fullCalcOnLoad="1"', b"")
            z.writestr(info, data)


def many(path):
    wb = Workbook()
    s = wb.active
    s.title = "Sheet1"
    for k in range(1, 36):
        s.cell(row=k, column=1, value=k if k > 1 else "x" * 100)
        add_name(wb, "N%02d" % k, "Sheet1!$A$%d" % k)
    wb.save(path)


d = sys.argv[1]
book(os.path.join(d, "book.xlsx"))
many(os.path.join(d, "many.xlsx"))
