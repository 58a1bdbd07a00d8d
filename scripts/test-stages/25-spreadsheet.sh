#!/usr/bin/env bash
# Converts the example logs (and two awkward ones made here) with
# ledgerly-convert to workbooks and to CSV files in the spreadsheet styles,
# opens them with LibreOffice (headless) and checks what a user sees there:
# dates, times, signal reports, serial numbers, text that looks like a
# formula, names in UTF-8 and in Windows-1252; and that the ISO dates of a
# CSV file are read as dates. A report in the style of a QSL service's shows
# the QSO's columns first, numbers written with leading zeros, points and
# float noise as numbers, one time display per column, date-times, and a
# summary sheet; a CSV with decimal commas is read as numbers by LibreOffice
# in German. LEDGERLY_CONVERT names another converter to run.
set -euo pipefail
cd "$(dirname "$0")/../.."
convert=${LEDGERLY_CONVERT:-}
if [ -z "$convert" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target ledgerly-convert
  convert=$PWD/build/default/cli/ledgerly-convert
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/logs" "$work/out" "$work/shown"

cp examples/*.adi "$work/logs/"
# A formula, an escape-like text and a control character, in UTF-8.
printf '%s\n' '<CALL:4>K1AB <QSO_DATE:8>20240105 <TIME_ON:4>0930 <COMMENT:4>=1+1' \
  '<NOTES:7>_x0041_ <QTH:3>a;b <ADDRESS:3>a'$'\x01''b <EOR>' >"$work/logs/awkward.adi"
# A log written in Windows-1252.
printf '<CALL:4>DL2X <QSO_DATE:8>20240106 <NAME:8>M\xfcller \x80 <EOR>\n' >"$work/logs/cp1252.adi"
# A report in the style of a QSL service's: its own fields first.
cat >"$work/logs/report.adi" <<'LOG'
Report <EOH>
<APP_LoTW_OWNCALL:5>N0CAL <APP_LoTW_RXQSO:19>2022-11-06 17:46:43 <CALL:5>JA1XY <BAND:3>20M
<FREQ:18>14.280000000000001 <MODE:3>SSB <QSO_DATE:8>20221106 <TIME_ON:4>1746 <CQZ:2>25 <EOR>
<APP_LoTW_OWNCALL:5>N0CAL <APP_LoTW_RXQSO:20>2022-11-07T08:01:00Z <CALL:5>EA8AB <BAND:5>2190M
<FREQ:5>.1357 <MODE:2>CW <QSO_DATE:8>20221107 <TIME_ON:6>080159 <CQZ:2>05 <EOR>
<APP_LoTW_OWNCALL:5>N0CAL <CALL:5>JA1XY <BAND:2>2M <FREQ:7>144.300 <MODE:2>CW
<QSO_DATE:8>20230102 <TIME_ON:4>0102 <CQZ:2>25 <EOR>
LOG

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for log in "$work"/logs/*.adi; do
  base=$(basename "$log" .adi)
  "$convert" "$log" "$work/out/$base.xlsx" 2>>"$work/messages" || fail "$base.xlsx: exit status $?"
  "$convert" --dates iso "$log" "$work/out/$base-iso.csv" 2>>"$work/messages" ||
    fail "$base-iso.csv: exit status $?"
  "$convert" --separator ';' --bom --dates=iso "$log" "$work/out/$base-semicolon.csv" \
    2>>"$work/messages" || fail "$base-semicolon.csv: exit status $?"
  "$convert" --decimal-comma --bom --dates=iso "$log" "$work/out/$base-comma.csv" \
    2>>"$work/messages" || fail "$base-comma.csv: exit status $?"
done

# The CSV filter's options: separator, quote, UTF-8 (76), first line 1, no
# column formats, language, quoted cells not forced to text, special numbers
# detected, cells saved as shown, no formulas, spaces kept, every sheet (a
# file per sheet, named BASE-SHEET.csv).
shown=(--headless --norestore "-env:UserInstallation=file://$work/profile")
timeout 300 soffice "${shown[@]}" --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1' \
  --outdir "$work/shown" "$work"/out/*.xlsx >"$work/soffice.log" 2>&1 || fail "soffice: workbooks"
timeout 300 soffice "${shown[@]}" --infilter=CSV:44,34,76,1 --convert-to fods --outdir "$work/shown" \
  "$work"/out/*-iso.csv >>"$work/soffice.log" 2>&1 || fail "soffice: CSV with ISO dates"
timeout 300 soffice "${shown[@]}" --infilter=CSV:59,34,76,1 --convert-to fods --outdir "$work/shown" \
  "$work"/out/*-semicolon.csv >>"$work/soffice.log" 2>&1 || fail "soffice: CSV with ';'"
# The decimal-comma CSV as LibreOffice reads it in German (language 1031).
timeout 300 soffice "${shown[@]}" --infilter=CSV:59,34,76,1,,1031 --convert-to fods \
  --outdir "$work/shown" "$work"/out/*-comma.csv >>"$work/soffice.log" 2>&1 ||
  fail "soffice: CSV with decimal commas"

# Each check: a file LibreOffice wrote, the record (1 = the first), the
# column, the cell's type (for the imported CSV files) and the text shown.
python3 - "$work/shown" <<'EOF' || failures=$((failures + 1))
import csv
import sys
import xml.etree.ElementTree as tree

checks = [
    ("winter-contest-QSOs.csv", 1, "QSO_DATE", None, "2024-01-05"),
    ("winter-contest-QSOs.csv", 1, "TIME_ON", None, "09:30:00"),
    ("winter-contest-QSOs.csv", 1, "TIME_OFF", None, "09:32:15"),
    ("winter-contest-QSOs.csv", 1, "RST_RCVD", None, "-08"),
    ("winter-contest-QSOs.csv", 1, "STX", None, "001"),
    ("winter-contest-QSOs.csv", 1, "FREQ", None, "14.0740"),
    ("winter-contest-QSOs.csv", 1, "NAME", None, "Jürgen"),
    ("winter-contest-QSOs.csv", 1, "QSLRDATE", None, "2024-02-20"),
    ("winter-contest-QSOs.csv", 2, "COMMENT", None, "=rate was 60/h there"),
    ("winter-contest-QSOs.csv", 3, "QSLRDATE", None, "20240231"),
    ("winter-contest-QSOs.csv", 4, "TIME_ON", None, "2360"),
    ("station-log-QSOs.csv", 1, "TIME_ON", None, "00:00:00"),
    ("station-log-QSOs.csv", 1, "TIME_OFF", None, "00:02"),
    ("station-log-QSOs.csv", 1, "FREQ", None, "1.8325"),
    ("awkward-QSOs.csv", 1, "COMMENT", None, "=1+1"),
    ("awkward-QSOs.csv", 1, "NOTES", None, "_x0041_"),
    ("awkward-QSOs.csv", 1, "ADDRESS", None, "a\ufffdb"),
    ("cp1252-QSOs.csv", 1, "NAME", None, "Müller €"),
    ("winter-contest-iso.fods", 1, "QSO_DATE", "date", "2024-01-05"),
    ("winter-contest-iso.fods", 1, "QSLRDATE", "date", "2024-02-20"),
    ("winter-contest-iso.fods", 3, "QSLRDATE", "float", "20240231"),
    ("winter-contest-semicolon.fods", 1, "BAND", "string", "20m"),
    ("winter-contest-semicolon.fods", 1, "QSO_DATE", "date", "2024-01-05"),
    ("awkward-semicolon.fods", 1, "QTH", "string", "a;b"),
    ("winter-contest-comma.fods", 1, "FREQ", "float", "14.074"),
    ("winter-contest-comma.fods", 2, "FREQ", "float", "7.074"),
    ("station-log-comma.fods", 1, "FREQ", "float", "1.8325"),
    ("report-comma.fods", 2, "FREQ", "float", "0.1357"),
    ("report-QSOs.csv", 0, "CALL", None, "CALL"),
    ("report-QSOs.csv", 1, "FREQ", None, "14.28"),
    ("report-QSOs.csv", 2, "FREQ", None, "0.1357"),
    ("report-QSOs.csv", 2, "CQZ", None, "05"),
    ("report-QSOs.csv", 1, "TIME_ON", None, "17:46:00"),
    ("report-QSOs.csv", 2, "TIME_ON", None, "08:01:59"),
    ("report-QSOs.csv", 1, "APP_LOTW_RXQSO", None, "2022-11-06 17:46:43"),
    ("report-QSOs.csv", 2, "APP_LOTW_RXQSO", None, "2022-11-07 08:01:00"),
    ("report-Summary.csv", 3, "Log", None, "QSOs"),
    ("report-Summary.csv", 3, "report.adi", None, "3"),
    ("report-Summary.csv", 4, "report.adi", None, "2"),
    ("report-Summary.csv", 1, "report.adi", None, "2022-11-06"),
    ("report-Summary.csv", 2, "report.adi", None, "2023-01-02"),
    ("report-Summary.csv", 8, "Log", None, "2190m"),
    ("report-Summary.csv", 9, "Log", None, "20m"),
    ("report-Summary.csv", 10, "Log", None, "2m"),
    ("report-Summary.csv", 11, "Log", None, "Total"),
]
# The first columns of every workbook: the QSO's own, as far as the log has them.
first_columns = {
    "winter-contest-QSOs.csv": ["CALL", "QSO_DATE", "TIME_ON", "TIME_OFF", "BAND", "FREQ"],
    "report-QSOs.csv": ["CALL", "QSO_DATE", "TIME_ON", "BAND", "FREQ", "MODE", "CQZ",
                        "APP_LOTW_OWNCALL", "APP_LOTW_RXQSO"],
}

O = "{urn:oasis:names:tc:opendocument:xmlns:office:1.0}"
T = "{urn:oasis:names:tc:opendocument:xmlns:table:1.0}"


def csv_rows(path):
    with open(path, encoding="utf-8-sig", newline="") as file:
        return [[(None, text) for text in row] for row in csv.reader(file)]


def fods_rows(path):
    rows = []
    for row in tree.parse(path).iter(T + "table-row"):
        cells = []
        for cell in row:
            text = "\n".join("".join(p.itertext()) for p in cell if p.tag.endswith("}p"))
            kind = cell.get(O + "value-type")
            cells += [(kind, text)] * int(cell.get(T + "number-columns-repeated", "1"))
        rows.append(cells)
    return rows


folder = sys.argv[1]
tables = {}
failed = 0
for name, record, column, kind, text in checks:
    if name not in tables:
        read = csv_rows if name.endswith(".csv") else fods_rows
        try:
            tables[name] = read(folder + "/" + name)
        except OSError as error:
            tables[name] = [[]]
            print("FAIL: %s: %s" % (name, error))
            failed += 1
    rows = tables[name]
    header = [shown for _, shown in rows[0]]
    got = (None, "<no such cell>")
    if column in header and record < len(rows) and header.index(column) < len(rows[record]):
        got = rows[record][header.index(column)]
    if got != (kind, text):
        print("FAIL: %s record %d %s: %r, expected %r" % (name, record, column, got, (kind, text)))
        failed += 1
for name, columns in first_columns.items():
    header = [shown for _, shown in csv_rows(folder + "/" + name)[0]]
    if header[:len(columns)] != columns:
        print("FAIL: %s columns %r, expected %r first" % (name, header, columns))
        failed += 1
print("%d spreadsheet checks, %d failed" % (len(checks) + len(first_columns), failed))
sys.exit(1 if failed else 0)
EOF

if [ "$failures" -ne 0 ]; then
  echo "LibreOffice said:" >&2
  cat "$work/soffice.log" >&2
  exit 1
fi
echo "All spreadsheet checks passed."
