#!/usr/bin/python3
"""Writes the corpus files that python makes (run by make-corpus.sh):
bells-openpyxl.xlsx, bells-xlwt.xls, hand-bells.xlsx (rich text, inline
strings, cached formula results, booleans, the 1904 date system, cells
without a reference) and encrypted.ods (a manifest naming the encryption).
"""
import datetime
import os
import sys
import zipfile

out = sys.argv[1]


def openpyxl_file():
    import openpyxl
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "铃声"
    sheet.append(["序", "时间", "名称", "音乐", "周期", "备注"])
    sheet.append([1, datetime.time(6, 50), "早读", "起床.mp3", "一二三四五", "备注"])
    sheet.append([2, datetime.datetime(2024, 3, 5, 8, 0, 0), "上课", "上课.mp3", "一二三四五", None])
    sheet.append([3, "12 : 30", "午饭", "午饭.mp3", "日六", 5])
    sheet.append([4, datetime.time(23, 59, 59, 600000), "晚安", "晚安.mp3", "日", None])
    sheet.append([None, "09:00", "不读", "没有.mp3"])
    sheet.append([5, "09:00", "不读", "没有.mp3"])
    sheet.cell(row=2, column=2).number_format = "hh:mm:ss"
    sheet.cell(row=3, column=2).number_format = "yyyy/m/d h:mm:ss"
    sheet.cell(row=5, column=2).number_format = "hh:mm:ss"
    book.create_sheet("第二页")["A1"] = "不读"
    book.save(os.path.join(out, "bells-openpyxl.xlsx"))


def xlwt_file():
    import xlwt
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("铃声")
    time_style = xlwt.easyxf(num_format_str="hh:mm:ss")
    for c, text in enumerate(["序", "时间", "名称", "音乐", "周期", "备注"]):
        sheet.write(0, c, text)
    rows = [
        (1, datetime.time(7, 0), "起床", "起床.mp3", "一二三四五", "长" * 9000),
        (2, datetime.time(8, 5), "上课", "上课.mp3", "一二三四五", "第一节"),
        (3, " 12 :30", "午饭", "午饭.mp3", "日六", True),
    ]
    for r, row in enumerate(rows, start=1):
        for c, value in enumerate(row):
            sheet.write(r, c, value, time_style if isinstance(value, datetime.time) else xlwt.Style.default_style)
    book.save(os.path.join(out, "bells-xlwt.xls"))


def zip_parts(path, parts):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts:
            z.writestr(name, data)


def hand_xlsx():
    ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
    rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    types = """<?xml version="1.0" encoding="UTF-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
</Types>"""
    root_rels = f"""<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="{rel}/officeDocument" Target="xl/workbook.xml"/>
</Relationships>"""
    workbook = f"""<?xml version="1.0" encoding="UTF-8"?>
<workbook {ns} xmlns:r="{rel}"><workbookPr date1904="1"/>
<sheets><sheet name="铃声" sheetId="1" r:id="rId1"/></sheets></workbook>"""
    wb_rels = f"""<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="{rel}/worksheet" Target="worksheets/sheet1.xml"/>
<Relationship Id="rId2" Type="{rel}/sharedStrings" Target="sharedStrings.xml"/>
<Relationship Id="rId3" Type="{rel}/styles" Target="styles.xml"/>
</Relationships>"""
    # xf 1: a time of day; xf 2: a date with a time.
    styles = f"""<?xml version="1.0" encoding="UTF-8"?>
<styleSheet {ns}><cellXfs count="3"><xf numFmtId="0"/><xf numFmtId="21"/><xf numFmtId="22"/></cellXfs></styleSheet>"""
    shared = f"""<?xml version="1.0" encoding="UTF-8"?>
<sst {ns} count="2" uniqueCount="2">
<si><r><t>上</t></r><r><rPr><b/></rPr><t xml:space="preserve">课</t></r></si>
<si><t>午饭</t><rPh sb="0" eb="2"><t>wǔfàn</t></rPh></si>
</sst>"""
    def inline(text):
        return f'<c t="inlineStr"><is><t>{text}</t></is></c>'
    header = "".join(inline(t) for t in ["序", "时间", "名称", "音乐", "周期", "备注"])
    sheet = f"""<?xml version="1.0" encoding="UTF-8"?>
<worksheet {ns}><sheetData>
<row>{header}</row>
<row><c><f>ROW()-1</f><v>1</v></c><c s="1"><v>0.3368055555555556</v></c><c t="s"><v>0</v></c>{inline("上课.mp3")}<c t="str"><f>"一二"&amp;"三四五"</f><v>一二三四五</v></c><c t="b"><v>1</v></c></row>
<row r="3"><c r="A3" t="str"><f>"x"</f><v>x</v></c><c r="B3" s="2"><v>45356.5</v></c><c r="C3" t="s"><v>1</v></c><c r="D3" t="inlineStr"><is><r><t>午饭</t></r><r><t>.mp3</t></r></is></c><c r="F3" t="b"><v>0</v></c></row>
<row r="4"><c r="A4"><v>3</v></c><c r="B4" s="1"><v>0.9999953703703705</v></c><c r="C4" t="str"><v>晚安</v></c><c r="D4" t="inlineStr"><is><t>晚安.mp3</t></is></c></row>
</sheetData></worksheet>"""
    zip_parts(os.path.join(out, "hand-bells.xlsx"), [
        ("[Content_Types].xml", types), ("_rels/.rels", root_rels), ("xl/workbook.xml", workbook),
        ("xl/_rels/workbook.xml.rels", wb_rels), ("xl/styles.xml", styles),
        ("xl/sharedStrings.xml", shared), ("xl/worksheets/sheet1.xml", sheet)])


def encrypted_ods():
    manifest = """<?xml version="1.0" encoding="UTF-8"?>
<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">
 <manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>
 <manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml" manifest:size="1234">
  <manifest:encryption-data manifest:checksum-type="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0#sha256-1k" manifest:checksum="AAAA">
   <manifest:algorithm manifest:algorithm-name="http://www.w3.org/2001/04/xmlenc#aes256-cbc" manifest:initialisation-vector="AAAA"/>
   <manifest:key-derivation manifest:key-derivation-name="PBKDF2" manifest:key-size="32" manifest:iteration-count="100000" manifest:salt="AAAA"/>
  </manifest:encryption-data>
 </manifest:file-entry>
</manifest:manifest>"""
    path = os.path.join(out, "encrypted.ods")
    with zipfile.ZipFile(path, "w") as z:
        z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.spreadsheet")
        # Encrypted data is no deflate stream, though the entry says so.
        info = zipfile.ZipInfo("content.xml")
        info.compress_type = zipfile.ZIP_STORED
        z.writestr(info, bytes(range(256)) * 4)
        z.writestr("META-INF/manifest.xml", manifest, zipfile.ZIP_DEFLATED)


openpyxl_file()
xlwt_file()
hand_xlsx()
encrypted_ods()
