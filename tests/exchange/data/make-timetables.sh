#!/usr/bin/env bash
# Makes the import corpus (run by hand; the files are committed):
#   the python-made files of make-timetables.py and make-biff.py, then
#   LibreOffice's conversions of some of them:
#   timetable-lo.xls/.ods      the timetable saved as Excel 97 and ODF
#   timetable-lo-utf16.txt     the timetable as "Unicode text" (UTF-16, tabs)
#   timetable-lo-utf16.csv     the timetable as UTF-16 CSV
#   chart-lo.xls               a first sheet with an embedded chart
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
/usr/bin/python3 "$here/make-timetables.py" "$here"
/usr/bin/python3 "$here/make-biff.py" "$here"
convert() { # <source> <filter> <extension of the result> <target name>
  soffice "-env:UserInstallation=file://$tmp/profile" --headless --convert-to "$2" \
    --outdir "$tmp" "$here/$1" >/dev/null
  mv "$tmp/${1%.*}.$3" "$here/$4"
}
convert timetable-openpyxl.xlsx "xls:MS Excel 97" xls timetable-lo.xls
convert timetable-openpyxl.xlsx "ods:calc8" ods timetable-lo.ods
convert timetable-openpyxl.xlsx "txt:Text - txt - csv (StarCalc):9,34,65535" txt timetable-lo-utf16.txt
convert timetable-openpyxl.xlsx "csv:Text - txt - csv (StarCalc):44,34,65535" csv timetable-lo-utf16.csv
convert chart-openpyxl.xlsx "xls:MS Excel 97" xls chart-lo.xls
