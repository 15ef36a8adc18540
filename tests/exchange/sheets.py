#!/usr/bin/python3
"""Independent spreadsheet writers and readers for the exchange tests.

make <kind> <path>   writes a sample sheet with xlwt, openpyxl or by hand
dump <path>          prints the first worksheet of an .xls read by xlrd as JSON
"""
import datetime
import io
import json
import sys
import zipfile
import zlib

ROWS = [
    ["序", "时间", "名称", "音乐", "周期", "备注"],
    ["1", "07:30:00", "起床铃", "起床.mp3", "一二三四五", "早上"],
    ["2", " 12:00", "午饭", "lunch.wav", "日一二三四五六", ""],
]


def make_xls(path):
    import xlwt
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("第一页")
    time_style = xlwt.easyxf(num_format_str="h:mm:ss")
    stamp_style = xlwt.easyxf(num_format_str="yyyy/m/d h:mm:ss")
    date_style = xlwt.easyxf(num_format_str="yyyy-mm-dd")
    for c, text in enumerate(["序", "时间", "名称", "音乐", "周期", "备注"]):
        sheet.write(0, c, text)
    sheet.write(1, 0, 1)                                   # a number
    sheet.write(1, 1, datetime.time(7, 30, 0), time_style)  # a real time cell
    sheet.write(1, 2, "起床铃")
    sheet.write(1, 3, "起床.mp3")
    sheet.write(1, 4, "一二三四五")
    sheet.write(1, 5, 2.5)
    sheet.write(2, 0, 2)
    sheet.write(2, 1, datetime.datetime(2024, 3, 5, 13, 45, 10), stamp_style)
    sheet.write(2, 2, "午饭")
    sheet.write(2, 3, "lunch.wav")
    sheet.write(2, 4, "日六")
    sheet.write(3, 0, "x")
    sheet.write(3, 1, datetime.date(2024, 3, 5), date_style)
    sheet.write(3, 2, "")
    sheet.write(3, 3, "c.mp3")
    book.add_sheet("第二页").write(0, 0, "不读")
    book.save(path)


def make_xlsx(path, big=False):
    import openpyxl
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "铃声"
    if big:
        sheet.cell(row=100001, column=1, value="太多")
        book.save(path)
        return
    sheet.append(["序", "时间", "名称", "音乐", "周期", "备注"])
    sheet.append([1, datetime.time(7, 30, 0), "起床铃", "起床.mp3", "一二三四五", 2.5])
    sheet.append([2, datetime.datetime(2024, 3, 5, 13, 45, 10), "午饭", "lunch.wav", "日六", None])
    sheet.append(["x", datetime.date(2024, 3, 5), None, "c.mp3", None, 12345678])
    sheet.append([3, "=\"08:\"&\"15\"", "公式", "c.mp3", "", ""])
    sheet.cell(row=2, column=2).number_format = "h:mm:ss"
    sheet.cell(row=3, column=2).number_format = "yyyy/m/d h:mm:ss"
    sheet.cell(row=4, column=2).number_format = "yyyy-mm-dd"
    other = book.create_sheet("第二页")
    other["A1"] = "不读"
    book.save(path)


def make_ods(path):
    content = """<?xml version="1.0" encoding="UTF-8"?>
<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2">
<office:body><office:spreadsheet><table:table table:name="铃声">
<table:table-row>
 <table:table-cell office:value-type="string"><text:p>序</text:p></table:table-cell>
 <table:table-cell office:value-type="string"><text:p>时间</text:p></table:table-cell>
 <table:table-cell office:value-type="string"><text:p>名称</text:p></table:table-cell>
</table:table-row>
<table:table-row>
 <table:table-cell office:value-type="float" office:value="1"><text:p>1</text:p></table:table-cell>
 <table:table-cell office:value-type="date" office:date-value="2024-03-05T07:30:00"><text:p>x</text:p></table:table-cell>
 <table:table-cell office:value-type="string"><text:p>起床铃</text:p></table:table-cell>
</table:table-row>
<table:table-row>
 <table:table-cell office:value-type="percentage" office:value="0.25"><text:p>25%</text:p></table:table-cell>
 <table:table-cell office:value-type="time" office:time-value="PT36H05M00S"><text:p>36:05</text:p></table:table-cell>
 <table:table-cell office:value-type="boolean" office:boolean-value="true"><text:p>TRUE</text:p></table:table-cell>
 <table:table-cell office:value-type="currency" office:currency="CNY" office:value="12.5"><text:p>¥12.50</text:p></table:table-cell>
 <table:table-cell office:value-type="date" office:date-value="2024-03-05"><text:p>x</text:p></table:table-cell>
</table:table-row>
<table:table-row table:number-rows-repeated="2">
 <table:table-cell table:number-columns-repeated="2" office:value-type="string"><text:p>同</text:p></table:table-cell>
 <table:covered-table-cell table:number-columns-repeated="2"><text:p>被合并</text:p></table:covered-table-cell>
 <table:table-cell office:value-type="string"><text:p>a<text:s text:c="3"/>b<text:tab/>c<text:line-break/>d</text:p><text:p><text:span>第二段</text:span></text:p></table:table-cell>
 <table:table-cell office:value-type="string" office:string-value="公式结果"><office:annotation><text:p>批注</text:p></office:annotation><text:p>公式结果</text:p></table:table-cell>
</table:table-row>
<table:table-row table:number-rows-repeated="1048570"><table:table-cell table:number-columns-repeated="1024"/></table:table-row>
</table:table></office:spreadsheet></office:body></office:document-content>"""
    manifest = """<?xml version="1.0" encoding="UTF-8"?>
<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">
 <manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>
 <manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>
</manifest:manifest>"""
    with zipfile.ZipFile(path, "w") as z:
        z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.spreadsheet")
        z.writestr("content.xml", content, zipfile.ZIP_DEFLATED)
        z.writestr("META-INF/manifest.xml", manifest, zipfile.ZIP_DEFLATED)


def make_bomb(path):
    # An .xlsx whose sheet part inflates to 300 MB of blanks.
    make_xlsx(path)
    src = zipfile.ZipFile(path)
    parts = {n: src.read(n) for n in src.namelist()}
    src.close()
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts.items():
            if name == "xl/worksheets/sheet1.xml":
                z.writestr("xl/worksheets/sheet1.xml", data)
                info = zipfile.ZipInfo("xl/padding.bin")
                info.compress_type = zipfile.ZIP_DEFLATED
                with z.open(info, "w", force_zip64=False) as f:
                    chunk = b" " * (1 << 20)
                    for _ in range(300):
                        f.write(chunk)
            else:
                z.writestr(name, data)


def make_laughs(path, kind):
    # A file whose part declares nested entities ("billion laughs") and uses
    # the last one in a cell.
    if kind == "xlsx":
        make_xlsx(path)
        part, cell = "xl/worksheets/sheet1.xml", "<t>"
    else:
        make_ods(path)
        part, cell = "content.xml", "<text:p>"
    dtd = '<!DOCTYPE d [<!ENTITY l0 "ha">'
    for i in range(1, 10):
        dtd += '<!ENTITY l%d "%s">' % (i, ("&l%d;" % (i - 1)) * 10)
    dtd += "]>"
    src = zipfile.ZipFile(path)
    parts = {n: src.read(n) for n in src.namelist()}
    src.close()
    text = parts[part].decode("utf-8")
    at = text.find("?>") + 2 if text.startswith("<?xml") else 0
    text = (text[:at] + dtd + text[at:]).replace(cell, cell + "&l9;", 1)
    parts[part] = text.encode("utf-8")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts.items():
            z.writestr(name, data)


def make_xlsb(path, workbook="xl/workbook.bin"):
    # Excel's binary workbook: the OPC parts of an .xlsx, the workbook and
    # sheet parts BIFF12 records (here a few bytes of them).
    ctype = "application/vnd.ms-excel.sheet.binary.macroEnabled.main"
    types = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
             '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
             '<Default Extension="bin" ContentType="application/vnd.ms-excel.sheet.binary.macroEnabled.main"/>'
             '<Override PartName="/%s" ContentType="%s"/>'
             '<Override PartName="/xl/worksheets/sheet1.bin" '
             'ContentType="application/vnd.ms-excel.worksheet"/></Types>') % (workbook, ctype)
    rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
            'relationships/officeDocument" Target="%s"/></Relationships>') % workbook
    folder, name = workbook.rsplit("/", 1)
    book_rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                 '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                 '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
                 'relationships/worksheet" Target="worksheets/sheet1.bin"/></Relationships>')
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", types)
        z.writestr("_rels/.rels", rels)
        z.writestr(workbook, bytes([0x83, 0x01, 0x00, 0x9C, 0x01, 0x00, 0x84, 0x01, 0x00]))
        z.writestr(folder + "/_rels/" + name + ".rels", book_rels)
        z.writestr("xl/worksheets/sheet1.bin", bytes([0x81, 0x01, 0x00, 0x82, 0x01, 0x00]))


def make_csv(path, encoding):
    lines = []
    for row in ROWS:
        cells = []
        for cell in row:
            cells.append('"' + cell.replace('"', '""') + '"' if ("," in cell or '"' in cell) else cell)
        lines.append(",".join(cells))
    lines.append('3,"08:00","名称,带""引号""",c.mp3,,"两行\n备注"')
    with open(path, "wb") as f:
        f.write("\r\n".join(lines).encode(encoding) + b"\r\n")


def dump(path):
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)
    sheet = book.sheet_by_index(0)
    rows, valign, formats = [], set(), set()
    for r in range(sheet.nrows):
        rows.append([str(sheet.cell_value(r, c)) for c in range(sheet.ncols)])
        for c in range(sheet.ncols):
            if sheet.cell_type(r, c) != xlrd.XL_CELL_EMPTY:
                xf = book.xf_list[sheet.cell_xf_index(r, c)]
                valign.add(xf.alignment.vert_align)
                formats.add(book.format_map[xf.format_key].format_str)
    json.dump({"sheet": sheet.name, "sheets": book.nsheets, "rows": rows,
               "valign": sorted(valign), "formats": sorted(formats)},
              sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "dump":
        dump(sys.argv[2])
    else:
        kind, path = sys.argv[2], sys.argv[3]
        {
            "xls": make_xls,
            "xlsx": make_xlsx,
            "xlsx-big": lambda p: make_xlsx(p, big=True),
            "ods": make_ods,
            "xlsb": make_xlsb,
            "xlsb-renamed": lambda p: make_xlsb(p, "xl/book1.dat"),
            "bomb": make_bomb,
            "laughs-xlsx": lambda p: make_laughs(p, "xlsx"),
            "laughs-ods": lambda p: make_laughs(p, "ods"),
            "csv-utf8": lambda p: make_csv(p, "utf-8"),
            "csv-gb18030": lambda p: make_csv(p, "gb18030"),
        }[kind](path)
