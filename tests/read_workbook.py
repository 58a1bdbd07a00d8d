#!/usr/bin/env python3
"""Prints what a workbook holds, for the workbook tests: one line per cell,
tab-separated: sheet, coordinate, data type, value, number format, then
"bold" for a bold cell; then a line per sheet with its frozen cell and its
autofilter range. Texts are printed in JSON quotes (a text over 80
characters as its length and first 20 characters), dates and times in ISO
form. With --rows N only the first N rows of each sheet are printed, read
in read-only mode, without the sheet lines. With --widths only the column
widths are printed: sheet, "width", first and last column number, width.
With --parts the workbook's parts are printed whole instead, each after a
line with its name (all but docProps/core.xml, which holds the time the
workbook was made)."""
import datetime
import json
import sys
import zipfile

import openpyxl


def shown(value):
    if isinstance(value, str):
        if len(value) > 80:
            return "[%d characters] %s" % (len(value), json.dumps(value[:20], ensure_ascii=False))
        return json.dumps(value, ensure_ascii=False)
    if isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
        return value.isoformat()
    return repr(value)


def main():
    arguments = sys.argv[1:]
    rows = None
    if arguments[0] == "--parts":
        with zipfile.ZipFile(arguments[1]) as book:
            for name in sorted(book.namelist()):
                if name != "docProps/core.xml":
                    sys.stdout.buffer.write(b"== " + name.encode() + b"\n" + book.read(name) + b"\n")
        return
    if arguments[0] == "--widths":
        book = openpyxl.load_workbook(arguments[1])
        for sheet in book.worksheets:
            for dimension in sheet.column_dimensions.values():
                if dimension.customWidth:
                    print("\t".join([sheet.title, "width", str(dimension.min),
                                     str(dimension.max), str(dimension.width)]))
        return
    if arguments[0] == "--rows":
        rows = int(arguments[1])
        arguments = arguments[2:]
    book = openpyxl.load_workbook(arguments[0], read_only=rows is not None)
    for sheet in book.worksheets:
        for row in sheet.iter_rows(max_row=rows):
            for cell in row:
                if cell.value is None:
                    continue
                line = [sheet.title, cell.coordinate, cell.data_type, shown(cell.value),
                        cell.number_format]
                if cell.font is not None and cell.font.b:
                    line.append("bold")
                print("\t".join(line))
        if rows is None:
            print("\t".join([sheet.title, "frozen", str(sheet.freeze_panes),
                             "filter", str(sheet.auto_filter.ref)]))


main()
