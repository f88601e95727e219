#!/usr/bin/env python3
"""Writes the small seed files of fuzz/corpus: hand-made maps in the published line layout (two
parcels sharing a boundary, a parcel outside the district, a two-ring surface, a map sheet, a
comment), archives holding them, settings files and code page strings. Run from the project root:
python3 fuzz/make_seeds.py. Every seed stays a few KB."""
import io
import os
import zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def point(n, x, y):
    return (f'<zmn:GM_Point id="P{n:06d}">\n<zmn:GM_Point.position>\n<zmn:DirectPosition>\n'
            f'<zmn:X>{x}</zmn:X>\n<zmn:Y>{y}</zmn:Y>\n</zmn:DirectPosition>\n</zmn:GM_Point.position>\n'
            f'</zmn:GM_Point>\n')


def curve(n, a, b):
    return (f'<zmn:GM_Curve id="C{n:06d}">\n<zmn:GM_Curve.segment>\n<zmn:GM_LineString>\n'
            f'<zmn:GM_LineString.controlPoint>\n<zmn:GM_PointArray>\n<zmn:GM_PointArray.column>\n'
            f'<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref="P{a:06d}"/>\n'
            f'</zmn:GM_Position.indirect>\n</zmn:GM_PointArray.column>\n<zmn:GM_PointArray.column>\n'
            f'<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref="P{b:06d}"/>\n'
            f'</zmn:GM_Position.indirect>\n</zmn:GM_PointArray.column>\n</zmn:GM_PointArray>\n'
            f'</zmn:GM_LineString.controlPoint>\n</zmn:GM_LineString>\n</zmn:GM_Curve.segment>\n'
            f'</zmn:GM_Curve>\n')


def surface(n, rings):
    text = f'<zmn:GM_Surface id="F{n:06d}">\n<zmn:GM_Surface.patch>\n<zmn:GM_Polygon>\n<zmn:GM_Polygon.boundary>\n'
    for ring in rings:
        text += '<zmn:GM_SurfaceBoundary.exterior>\n<zmn:GM_Ring>\n'
        text += ''.join(f'<zmn:GM_CompositeCurve.generator idref="C{c:06d}"/>\n' for c in ring)
        text += '</zmn:GM_Ring>\n</zmn:GM_SurfaceBoundary.exterior>\n'
    return text + '</zmn:GM_Polygon.boundary>\n</zmn:GM_Polygon>\n</zmn:GM_Surface.patch>\n</zmn:GM_Surface>\n'


def parcel(n, chiban, shape, extra=''):
    return (f'<筆 id="H{n:06d}">\n<大字コード>001</大字コード>\n<大字名>大字東</大字名>\n<丁目名>一丁目</丁目名>\n'
            f'<地番>{chiban}</地番>\n{extra}<形状 idref="F{shape:06d}"/>\n</筆>\n')


def map_file(crlf=False):
    # Two squares side by side sharing the edge 2-5, and a third parcel outside the district.
    pts = [(1, "-100.5", "200.25"), (2, "-100.5", "210.25"), (3, "-100.5", "220.25"),
           (4, "-110.5", "200.25"), (5, "-110.5", "210.25"), (6, "-110.5", "220.25")]
    text = ('<?xml version="1.0" encoding="UTF-8"?>\n<地図 xmlns="http://www.moj.go.jp/MINJI/tizuxml">\n'
            '<地図名>種地図&amp;試験</地図名>\n<市区町村名>千葉市</市区町村名>\n<座標系>公共座標9系</座標系>\n'
            '<!-- 空間属性 -->\n<空間属性>\n')
    text += ''.join(point(*p) for p in pts)
    edges = [(1, 2), (2, 5), (5, 4), (4, 1), (2, 3), (3, 6), (6, 5)]
    text += ''.join(curve(i + 1, a, b) for i, (a, b) in enumerate(edges))
    text += surface(1, [[1, 2, 3, 4]]) + surface(2, [[5, 6, 7, 2], [2, 5]])
    text += ('</空間属性>\n<主題属性>\n' + parcel(1, "1-1", 1) + parcel(2, "2", 2, '<筆界未定構成筆>\n<地番>9</地番>\n</筆界未定構成筆>\n')
             + parcel(3, "地区外1", 1) + '</主題属性>\n<図郭>\n<地図番号>V0100-1</地図番号>\n'
             '<筆参照 idref="H000001"/>\n<筆参照 idref="H000002"/>\n</図郭>\n</地図>\n')
    return text.replace('\n', '\r\n') if crlf else text


def write(folder, name, data):
    if isinstance(data, str):
        data = data.encode('utf-8')
    with open(os.path.join(ROOT, folder, name), 'wb') as f:
        f.write(data)


def archive(entries):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w') as z:
        for name, data, method in entries:
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 2, 3, 4, 6))
            info.compress_type = method
            z.writestr(info, data)
    return buffer.getvalue()


def main():
    for folder in ("map", "zip", "settings", "code_page"):
        os.makedirs(os.path.join(ROOT, folder), exist_ok=True)
    lf, crlf = map_file(), map_file(True)
    write("map", "two-parcels-lf.xml", lf)
    write("map", "two-parcels-crlf.xml", crlf)
    write("map", "comment-across-lines.xml", lf.replace('<空間属性>\n', '<空間属性><!-- a\nb -->\n', 1))
    write("zip", "stored.zip", archive([("X.xml", lf, zipfile.ZIP_STORED)]))
    write("zip", "deflated.zip", archive([("x.XML", crlf, zipfile.ZIP_DEFLATED)]))
    write("zip", "other-entries-first.zip", archive([("data/X.xml", "a", zipfile.ZIP_STORED),
                                                       ("X.xml/", "", zipfile.ZIP_STORED),
                                                       ("X.xml", "<地図>\n", zipfile.ZIP_DEFLATED)]))
    # A municipality archive: inner map-file zips (stored and deflated) and a Shift_JIS search list.
    write("zip", "municipality.zip", archive([
        ("X-1.zip", archive([("X-1.xml", lf, zipfile.ZIP_DEFLATED)]), zipfile.ZIP_STORED),
        ("X-2.zip", archive([("X-2.xml", crlf, zipfile.ZIP_STORED)]), zipfile.ZIP_DEFLATED),
        ("X-search-list.csv", "ファイル名,出力日時,地番区域,地番\r\nX-1.zip,2024/04/01,\"大字,A\",1-1\r\n"
         .encode('shift_jis'), zipfile.ZIP_DEFLATED)]))
    ini_path = os.path.join(os.path.dirname(ROOT), "..", "Chizuvec.ini")
    with open(ini_path, 'rb') as f:
        write("settings", "shipped.ini", f.read())
    write("settings", "quoted-and-repeated.ini",
          '\ufeffsvg_dpi=96\r\nSVG_DPI=-1\r\n[x]\r\nsvg_text_source="a;b" ; c\r\nsvg_area_gt_c1=1e999\r\n'
          'svg_viewbox_side_option=9\r\nsvg_chiban_sp1=\r\nshell_open_svg=YES\r\n')
    for name, data in {"ascii": b"abc", "utf8": "地図.xml".encode("utf-8"), "sjis": "地図.xml".encode("cp932"),
                       "eucjp": "地図.xml".encode("euc_jp"), "iso2022": "地図".encode("iso2022_jp"),
                       "utf16": b"\xff\xfea\x00"}.items():
        write("code_page", name, data)


if __name__ == "__main__":
    main()
