#!/usr/bin/python3
"""Writes, byte by byte, the .xls files no installed program makes
(run by make-timetables.sh):

biff2-excel2.xls, biff3-excel3.xls, biff4-excel4.xls
    a bell list as Excel 2.1, 3.0 and 4.0 saved a worksheet: a bare record
    stream, GBK text (CODEPAGE 936), a time format, numbers as INTEGER,
    NUMBER, RK and a FORMULA with its cached result
biff8-tolerant.xls
    a bare BIFF8 stream whose BOUNDSHEET offset is 3 bytes past the sheet's
    BOF and whose SST string leaves one odd byte before its CONTINUE
upper-stream.xls
    bells-lo.xls with its "Workbook" stream renamed "WORKBOOK"
"""
import os
import struct
import sys

out = sys.argv[1]
ROWS = [
    ["序", "时间", "名称", "音乐", "周期"],
    [1, 7.5 / 24, "起床", "起床.mp3", "一二三四五"],
    [2, 0.5, "午饭", "午饭.mp3", "日六"],
]


def rec(kind, data=b""):
    return struct.pack("<HH", kind, len(data)) + data


def gbk(text, count_bytes):
    b = text.encode("gbk")
    return (struct.pack("<B", len(b)) if count_bytes == 1 else struct.pack("<H", len(b))) + b


def old_biff(version):
    bof = {2: 0x0009, 3: 0x0209, 4: 0x0409}[version]
    s = rec(bof, struct.pack("<HH", {2: 0x0200, 3: 0x0300, 4: 0x0400}[version], 0x0010)
            + (b"" if version == 2 else b"\0\0"))
    s += rec(0x0042, struct.pack("<H", 936))                       # CODEPAGE
    fmt = 0x041E if version == 4 else 0x001E
    pad = b"\0\0" if version == 4 else b""
    s += rec(fmt, pad + gbk("General", 1))                         # format 0
    s += rec(fmt, pad + gbk("h:mm:ss", 1))                         # format 1
    if version == 2:
        # BIFF2 cells name their format in their attribute bytes.
        def cell(r, c, time=False):
            return struct.pack("<HH", r, c) + bytes([0, 1 if time else 0, 0])
    else:
        xf = 0x0243 if version == 3 else 0x0443
        size = 12 if version == 3 else 16
        s += rec(xf, bytes([0, 0]) + b"\0" * (size - 2))           # XF 0: General
        s += rec(xf, bytes([0, 1]) + b"\0" * (size - 2))           # XF 1: the time

        def cell(r, c, time=False):
            return struct.pack("<HHH", r, c, 1 if time else 0)
    label = 0x0004 if version == 2 else 0x0204
    for r, row in enumerate(ROWS):
        for c, v in enumerate(row):
            if isinstance(v, str):
                s += rec(label, cell(r, c) + gbk(v, 1 if version == 2 else 2))
            elif c == 0 and version == 2:
                s += rec(0x0002, cell(r, c) + struct.pack("<H", v))       # INTEGER
            elif c == 0:
                s += rec(0x027E, cell(r, c) + struct.pack("<I", v << 2 | 2))  # RK
            elif r == 1:
                s += rec(0x0003 if version == 2 else 0x0203, cell(r, c, True) + struct.pack("<d", v))
            else:
                # A formula (=12/24) with its cached result.
                tokens = b"\x1e\x0c\x00\x1e\x18\x00\x06"
                form = {2: 0x0006, 3: 0x0206, 4: 0x0406}[version]
                flags = b"\0" if version == 2 else b"\0\0"
                length = bytes([len(tokens)]) if version == 2 else struct.pack("<H", len(tokens))
                s += rec(form, cell(r, c, True) + struct.pack("<d", v) + flags + length + tokens)
    s += rec(0x000A)
    with open(os.path.join(out, "biff%d-excel%d.xls" % (version, version)), "wb") as f:
        f.write(s)


def utf16(text, count=None):
    data = text.encode("utf-16-le")
    return struct.pack("<HB", len(text) if count is None else count, 1) + data


def tolerant_biff8():
    globals_ = rec(0x0809, struct.pack("<HHHHII", 0x0600, 0x0005, 0, 0, 0, 0))
    globals_ += rec(0x0042, struct.pack("<H", 1200))
    # SST: "起床早读" breaks after two characters and one odd byte; the
    # CONTINUE starts with the option byte again.
    sst = struct.pack("<II", 3, 2) + utf16("起床", count=4) + b"\x00"
    cont = b"\x01" + "早读".encode("utf-16-le") + utf16("上课.mp3")
    sst_recs = rec(0x00FC, sst) + rec(0x003C, cont)
    name = struct.pack("<BB", 1, 0) + b"s"
    bound_size = 4 + 4 + 2 + len(name)
    eof = rec(0x000A)
    sheet_at = len(globals_) + bound_size + len(sst_recs) + len(eof)
    globals_ += rec(0x0085, struct.pack("<IBB", sheet_at + 3, 0, 0) + name) + sst_recs + eof
    sheet = rec(0x0809, struct.pack("<HHHHII", 0x0600, 0x0010, 0, 0, 0, 0))
    sheet += rec(0x00FD, struct.pack("<HHHI", 0, 0, 0, 0))      # A1: string 0
    sheet += rec(0x00FD, struct.pack("<HHHI", 0, 1, 0, 1))      # B1: string 1
    sheet += rec(0x0203, struct.pack("<HHHd", 1, 0, 0, 42.0))  # A2: 42
    sheet += rec(0x000A)
    assert len(globals_) == sheet_at
    with open(os.path.join(out, "biff8-tolerant.xls"), "wb") as f:
        f.write(globals_ + sheet)


def upper_stream():
    with open(os.path.join(out, "bells-lo.xls"), "rb") as f:
        data = f.read()
    old, new = "Workbook".encode("utf-16-le"), "WORKBOOK".encode("utf-16-le")
    assert data.count(old) == 1
    with open(os.path.join(out, "upper-stream.xls"), "wb") as f:
        f.write(data.replace(old, new))


for v in (2, 3, 4):
    old_biff(v)
tolerant_biff8()
upper_stream()
