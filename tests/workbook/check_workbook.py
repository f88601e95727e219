#!/usr/bin/env python3
"""End-to-end check of `Chizuvec --csv OUT.xlsx` against openpyxl and the CSV of the same run.

The workbook is read back by openpyxl (Debian's python3-openpyxl), and every cell is compared with
the CSV the program writes for the same inputs: the same header, the same rows in the same order,
texts as text cells (a lot number such as 75-1 never a number or date), numbers as numbers with
their column's number format, nulls as empty cells; one worksheet, its header row frozen and
filtered. A hostile copy of a real file (markup, control characters, an "_xHHHH_" look-alike,
U+FFFE, a formula look-alike and a sheet list longer than a cell holds) must come through as the
CSV gives it, cut only where a cell ends.

usage: check_workbook.py CHIZUVEC DATA_DIR
"""
import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile

import openpyxl

# What the columns are in the workbook: text unless named here (number format in Excel's terms).
NUMBER_FORMATS = {"parcel_id": "0", "area_m2": "0.0", "centroid_x": "0.000", "centroid_y": "0.000"}
CELL_CHARACTERS = 32767
failures = []
checks = [0]


def check(condition, what):
    checks[0] += 1
    if not condition:
        failures.append(what)


def run(program, folder, output, inputs):
    done = subprocess.run([program, "--csv", output] + inputs, cwd=folder, capture_output=True)
    if done.returncode != 0:
        raise AssertionError(f"{output}: exit {done.returncode}: {done.stderr.decode(errors='replace')}")
    return done.stderr.decode()


def read_csv(path):
    with open(path, encoding="utf-8-sig", newline="") as f:
        return list(csv.reader(f))


def csv_text(field):
    """The text a CSV field stands for: the CSV puts an apostrophe before a formula look-alike."""
    if field[:2] in ("'=", "'+", "'-", "'@"):
        return field[1:]
    return field


def excel_text(value):
    """A cell's text as Excel reads it: OOXML's _xHHHH_ escapes decoded (openpyxl leaves them)."""
    return re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), value)


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


def compare(label, csv_path, xlsx_path):
    """Every cell of the workbook against the CSV; returns the worksheet's rows."""
    rows = read_csv(csv_path)
    book = openpyxl.load_workbook(xlsx_path)
    check(len(book.worksheets) == 1, f"{label}: {len(book.worksheets)} worksheets")
    sheet = book.worksheets[0]
    check(sheet.freeze_panes == "A2", f"{label}: frozen at {sheet.freeze_panes}")
    last = openpyxl.utils.get_column_letter(len(rows[0]))
    check(sheet.auto_filter.ref == f"A1:{last}{len(rows)}", f"{label}: filter {sheet.auto_filter.ref}")
    cells = [list(r) for r in sheet.iter_rows()]
    check(len(cells) == len(rows), f"{label}: {len(cells)} rows, CSV {len(rows)}")
    header = rows[0]
    check([c.value for c in cells[0]] == header, f"{label}: header {[c.value for c in cells[0]]}")
    for r, (row, line) in enumerate(zip(cells[1:], rows[1:]), start=2):
        check(len(line) == len(header), f"{label}: CSV row {r} has {len(line)} fields")
        for name, cell, field in zip(header, row, line):
            where = f"{label} {cell.coordinate} ({name})"
            if field == "":
                check(cell.value is None, f"{where}: {cell.value!r} where the CSV is empty")
            elif name in NUMBER_FORMATS:
                check(cell.data_type == "n" and isinstance(cell.value, (int, float)),
                      f"{where}: {cell.value!r} ({cell.data_type}) is no number")
                check(cell.value == float(field), f"{where}: {cell.value!r}, CSV {field}")
                check(cell.number_format == NUMBER_FORMATS[name], f"{where}: format {cell.number_format}")
            else:
                check(cell.data_type == "s" and isinstance(cell.value, str),
                      f"{where}: {cell.value!r} ({cell.data_type}) is no text")
                check(cell.number_format == "@", f"{where}: format {cell.number_format}")
                value = excel_text(cell.value) if isinstance(cell.value, str) else ""
                # XML 1.0 has no U+FFFE or U+FFFF, which the CSV keeps.
                expected = re.sub("[\ufffe\uffff]", "\ufffd", csv_text(field))
                if utf16_length(expected) > CELL_CHARACTERS:
                    check(expected.startswith(value) and utf16_length(value) <= CELL_CHARACTERS
                          and utf16_length(value) > CELL_CHARACTERS - 20,
                          f"{where}: {utf16_length(value)} characters, not the CSV's cut where a cell ends")
                else:
                    check(value == expected, f"{where}: {value[:60]!r}, CSV {expected[:60]!r}")
    return cells


def hostile_copy(data, folder):
    """A real file whose first parcel carries every kind of hostile text the reader lets through."""
    with open(os.path.join(data, "46505-3411-1.xml"), "rb") as f:
        text = f.read().decode("utf-8")
    address = '=HYPERLINK("http://x")&lt;b&gt;&amp;\x01\t\x1f_x0041_\ufffe安房'
    text, count = re.subn(r"<大字名>安房</大字名>(\s*)<地番>2740-1</地番>",
                          lambda m: f"<大字名>{address}</大字名>{m.group(1)}<地番>-1-1</地番>", text, count=1)
    assert count == 1, "the hostile copy found no parcel to edit"
    # 2,100 more sheets list the parcel: its sheet list is longer than a cell holds.
    sheets = "".join(f"\t<図郭>\n\t\t<地図番号>Z{i:014d}</地図番号>\n\t\t<筆参照 idref=\"H000000001\"/>\n\t</図郭>\n"
                     for i in range(2100))
    at = text.index("\t<図郭>")
    path = os.path.join(folder, "hostile.xml")
    with open(path, "wb") as f:
        f.write((text[:at] + sheets + text[at:]).encode("utf-8"))
    return path


def main():
    program, data = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        inputs = sorted(os.path.join(data, n) for n in os.listdir(data) if n.endswith((".xml", ".zip")))
        run(program, folder, "all.csv", inputs)
        run(program, folder, "all.xlsx", inputs)
        cells = compare("real files", os.path.join(folder, "all.csv"), os.path.join(folder, "all.xlsx"))
        lots = [row[3].value for row in cells[1:]]
        check(any(re.fullmatch(r"\d+-\d+", lot or "") for lot in lots), "no lot like 75-1 to check")
        check("75-1" in lots, "lot 75-1 is not a text cell")

        hostile = hostile_copy(data, folder)
        run(program, folder, "hostile.csv", [hostile])
        told = run(program, folder, "hostile.xlsx", [hostile])
        check('**Warning: 1 cell text cut to the 32767 characters a cell holds in "hostile.xlsx"' in told,
              f"the cut is not told: {told}")
        cells = compare("hostile file", os.path.join(folder, "hostile.csv"), os.path.join(folder, "hostile.xlsx"))
        address = excel_text(cells[1][2].value)
        check(address.startswith('=HYPERLINK("http://x")<b>&???_x0041_'), f"hostile address {address!r}")
        check("\ufffe" not in address and "\ufffd" in address, "U+FFFE reached the workbook")
        check(cells[1][3].value == "-1-1", f"hostile lot {cells[1][3].value!r}")
        # Nothing but the outputs is left in the folder: libxlsxwriter's temporary files are gone.
        left = sorted(os.listdir(folder))
        check(left == ["all.csv", "all.xlsx", "hostile.csv", "hostile.xlsx", "hostile.xml"], f"left behind: {left}")

    for f in failures[:40]:
        print("FAIL:", f)
    print(f"{checks[0]} checks, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
