#!/usr/bin/python3
"""Writes the import corpus made with python (run by make-timetables.sh):

timetable-openpyxl.xlsx  a school timetable: merged title row, headers in
                         another order and wording, a blank row between
                         morning and afternoon, weekday and time texts as
                         people type them, a [Magenta]0 number format
refuse-*.xlsx            one fault each: weekday text, empty music cell,
                         a time with a tab inside
formula-xlsxwriter.xlsx  formulas whose only stored result is XlsxWriter's 0
formula-openpyxl.xlsx    formulas without any stored result
escapes-xlsxwriter.xlsx  _xHHHH_ escapes in shared and inline strings
chart-openpyxl.xlsx      a chart on the first sheet (LibreOffice makes the .xls)
calendar-1904.xlsx       a calendar sheet in the 1904 date system whose
                         workbook also holds Excel's x15:workbookPr
casefold-xlsxwriter.xlsx the shared strings part stored as xl/SharedStrings.xml
"""
import datetime
import os
import re
import sys
import zipfile

out = sys.argv[1]
HEADER = ["序号", "铃声名称", "时间", "音乐文件", "星期", "时长(秒)", "备注说明"]


def path(name):
    return os.path.join(out, name)


def timetable():
    import openpyxl
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "作息时间"
    sheet.append(["学校名称 2026年秋季作息时间表"])
    sheet.merge_cells("A1:G1")
    sheet.append([])
    sheet.append(HEADER)
    sheet.append([1, "起床", "6：30", "起床.mp3", "周一至周五", 30, "早操前"])
    sheet.append([2, "早读", datetime.time(7, 10), "上课.mp3", "工作日", None, None])
    sheet.append([3, "上课", "8:00\u00a0", "上课.mp3", "1-5", 45, "第一节"])
    sheet.append([4, "课间", "\u30008 : 45", "午饭.mp3", "一、三、五", None, None])
    sheet.append([])
    sheet.append([5, "午饭", "11:50", "午饭.mp3", "每天", None, None])
    sheet.append([6, "晚安", "21:30", "晚安.mp3", "周六至周日", None, None])
    sheet.append([None, None, None, None, None, None, "注：周末不打铃"])
    sheet.cell(row=5, column=3).number_format = "hh:mm"
    for r in range(4, 12):
        sheet.cell(row=r, column=1).number_format = "[Magenta]0;[Red]-0"
    book.save(path("timetable-openpyxl.xlsx"))


def refusal(name, row):
    import openpyxl
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.append(HEADER)
    sheet.append([1, "起床", "6:30", "起床.mp3", "一二三四五", None, None])
    sheet.append(row)
    book.save(path(name))


def formulas():
    import openpyxl
    import xlsxwriter
    book = xlsxwriter.Workbook(path("formula-xlsxwriter.xlsx"))
    sheet = book.add_worksheet("铃声")
    sheet.write_row(0, 0, ["序", "时间", "名称", "音乐", "周期"])
    for r in range(1, 3):
        sheet.write_formula(r, 0, "=ROW()-1")
        sheet.write_row(r, 1, ["07:%02d" % (10 * r), "上课", "上课.mp3", "一二三四五"])
    book.close()
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.append(["序", "时间", "名称", "音乐", "周期"])
    sheet.append([1, "07:10", "上课", "上课.mp3", "一二三四五"])
    sheet.append([2, '=TEXT(TIME(7,20,0),"hh:mm")', "上课", "上课.mp3", "一二三四五"])
    book.save(path("formula-openpyxl.xlsx"))


def escapes():
    import xlsxwriter
    book = xlsxwriter.Workbook(path("escapes-xlsxwriter.xlsx"))
    sheet = book.add_worksheet()
    sheet.write_string(0, 0, "ABC\r\nDEF")
    sheet.write_string(0, 1, "x_x0041_y")  # a literal escape-like text
    book.close()
    # XlsxWriter writes shared strings only; an inline string is patched in.
    with zipfile.ZipFile(path("escapes-xlsxwriter.xlsx")) as z:
        parts = {n: z.read(n) for n in z.namelist()}
    sheet_xml = parts["xl/worksheets/sheet1.xml"].decode()
    sheet_xml = sheet_xml.replace(
        "</row>", '<c r="C1" t="inlineStr"><is><t>tab_x0009_here</t></is></c></row>', 1)
    parts["xl/worksheets/sheet1.xml"] = sheet_xml.encode()
    rewrite(path("escapes-xlsxwriter.xlsx"), parts)


def chart():
    import openpyxl
    from openpyxl.chart import BarChart, Reference
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.append(["Etude du portefeuille", "值"])
    for i in range(1, 6):
        sheet.append(["第%d项" % i, i * 10])
    bar = BarChart()
    bar.add_data(Reference(sheet, min_col=2, min_row=1, max_row=6), titles_from_data=True)
    sheet.add_chart(bar, "D2")
    sheet["A8"] = "图表下面"
    book.save(path("chart-openpyxl.xlsx"))


def calendar_1904():
    import openpyxl
    from openpyxl.utils.datetime import CALENDAR_MAC_1904
    book = openpyxl.Workbook()
    book.epoch = CALENDAR_MAC_1904
    sheet = book.active
    sheet.append(["日期", "类型", "按星期", "备注"])
    sheet.append([datetime.date(2026, 10, 1), "放假", None, "国庆节"])
    sheet.cell(row=2, column=1).number_format = "yyyy-mm-dd"
    book.save(path("calendar-1904.xlsx"))
    with zipfile.ZipFile(path("calendar-1904.xlsx")) as z:
        parts = {n: z.read(n) for n in z.namelist()}
    wb = parts["xl/workbook.xml"].decode()
    # Excel adds its extension workbookPr after the sheets; it has no date1904.
    ext = ('<extLst><ext uri="{140A7094-0E35-4892-8432-C4D2E57EDEB5}" '
           'xmlns:x15="http://schemas.microsoft.com/office/spreadsheetml/2010/11/main">'
           '<x15:workbookPr chartTrackingRefBase="1"/></ext></extLst>')
    wb = wb.replace("</workbook>", ext + "</workbook>")
    assert 'date1904="1"' in wb
    parts["xl/workbook.xml"] = wb.encode()
    rewrite(path("calendar-1904.xlsx"), parts)


def casefold():
    import xlsxwriter
    book = xlsxwriter.Workbook(path("casefold-xlsxwriter.xlsx"))
    sheet = book.add_worksheet()
    sheet.write_row(0, 0, ["序", "时间", "名称", "音乐", "周期"])
    sheet.write_row(1, 0, [1, "07:10", "上课", "上课.mp3", "一二三四五"])
    book.close()
    with zipfile.ZipFile(path("casefold-xlsxwriter.xlsx")) as z:
        parts = {n: z.read(n) for n in z.namelist()}
    parts["xl/SharedStrings.xml"] = parts.pop("xl/sharedStrings.xml")
    rewrite(path("casefold-xlsxwriter.xlsx"), parts)


def rewrite(name, parts):
    with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED) as z:
        for n, data in parts.items():
            z.writestr(n, data)


timetable()
refusal("refuse-weekday.xlsx", [2, "上课", "7:30", "上课.mp3", "隔周一", None, None])
refusal("refuse-music.xlsx", [2, "上课", "7:30", None, "一二三四五", None, None])
refusal("refuse-time.xlsx", [2, "上课", "7:30\t分", "上课.mp3", "一二三四五", None, None])
formulas()
escapes()
chart()
calendar_1904()
casefold()
