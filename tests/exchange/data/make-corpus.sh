#!/usr/bin/env bash
# Makes the real-file corpus of the exchange tests (run by hand; the files
# are committed, so the tests need neither LibreOffice nor python modules):
#   bells-lo.xls/.xlsx/.ods  LibreOffice's conversions of bells.fods
#   *-openpyxl.xlsx, *-xlwt.xls, hand-*.xlsx/.ods  by make-corpus.py
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for kind in "xls:MS Excel 97" "xlsx:Calc MS Excel 2007 XML" "ods:calc8"; do
  ext="${kind%%:*}"
  soffice "-env:UserInstallation=file://$tmp/profile" --headless --convert-to "$kind" \
    --outdir "$tmp" "$here/bells.fods" >/dev/null
  mv "$tmp/bells.$ext" "$here/bells-lo.$ext"
done
/usr/bin/python3 "$here/make-corpus.py" "$here"
