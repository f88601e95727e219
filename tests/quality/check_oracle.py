#!/usr/bin/env python3
"""End-to-end check of `Chizuvec --check` against GEOS (shapely) and against planted faults, and of
`Chizuvec --diff` against a real file and an edited copy of it.

Every ring_self_intersects, hole_outside and overlap finding on the real map files and on generated
files must be one GEOS finds too, and GEOS must find nothing the report misses. Generated files plant
each kind once beside clean neighbours, which must give nothing.
"""
import csv
import io
import json
import math
import os
import random
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import warnings
import zipfile

from shapely.geometry import MultiPolygon, Polygon
from shapely.strtree import STRtree
from shapely.validation import explain_validity

# The STRtree of Debian's shapely 1.8 warns of its 2.0 interface, which the query below also takes.
warnings.filterwarnings("ignore", message="STRtree will be changed")

NS = {"m": "http://www.moj.go.jp/MINJI/tizuxml", "z": "http://www.moj.go.jp/MINJI/tizuzumen"}
Z = "{http://www.moj.go.jp/MINJI/tizuzumen}"
M = "{http://www.moj.go.jp/MINJI/tizuxml}"
LEFT_OUT = ("地区外", "別図")
# Kinds after which GEOS sees another ring than the file means, or none: not compared.
UNCOMPARED = {"ring_not_closed", "ring_degenerate", "missing_reference"}


def run_check(program, report, inputs):
    done = subprocess.run([program, "--check", report] + inputs, capture_output=True)
    if done.returncode != 0:
        raise AssertionError(f"exit {done.returncode}: {done.stderr.decode(errors='replace')}")
    return done.stderr.decode()


def read_report(path):
    with open(path, encoding="utf-8-sig", newline="") as f:
        return list(csv.DictReader(f))


# ---- An independent reading of the map file, for GEOS -------------------------------------------


def read_polygons(path):
    """筆ID -> (地番, shapely geometry or None), straight from the XML."""
    with open(path, "rb") as f:
        root = ET.fromstring(f.read().decode("utf-8", "replace"))
    points = {}
    for p in root.iter(Z + "GM_Point"):
        pos = p.find(".//z:DirectPosition", NS)
        points[p.get("id")] = (float(pos.find("z:Y", NS).text), float(pos.find("z:X", NS).text))
    curves = {}
    for c in root.iter(Z + "GM_Curve"):
        coords = []
        for column in c.iter(Z + "GM_PointArray.column"):
            direct = column.find("z:GM_Position.direct", NS)
            if direct is not None:
                coords.append((float(direct.find("z:Y", NS).text), float(direct.find("z:X", NS).text)))
            else:
                ref = column.find(".//z:GM_PointRef.point", NS).get("idref")
                coords.append(points.get(ref))
        orientation = c.find("z:GM_OrientablePrimitive.orientation", NS)
        if orientation is not None and orientation.text.strip() == "-":
            coords.reverse()
        curves[c.get("id")] = coords
    surfaces = {}
    for s in root.iter(Z + "GM_Surface"):
        rings = []
        for boundary in s.iter(Z + "GM_SurfaceBoundary"):
            for part in boundary:
                interior = part.tag.endswith("interior")
                for ring in part.iter(Z + "GM_Ring"):
                    coords = []
                    for g in ring.iter(Z + "GM_CompositeCurve.generator"):
                        for xy in curves.get(g.get("idref")) or [None]:
                            if xy is None:
                                coords = None
                                break
                            if not coords or coords[-1] != xy:
                                coords.append(xy)
                        if coords is None:
                            break
                    rings.append((interior, coords))
        surfaces[s.get("id")] = rings
    parcels = {}
    for h in root.iter(M + "筆"):
        chiban = h.findtext("m:地番", "", NS)
        shape = h.find("m:形状", NS)
        rings = surfaces.get(shape.get("idref")) if shape is not None else None
        geometry = None
        if rings and all(coords for _, coords in rings):
            polygons = []
            for interior, coords in rings:
                if not interior:
                    polygons.append([coords, []])
                elif polygons:
                    polygons[-1][1].append(coords)
            try:
                parts = [Polygon(shell, holes) for shell, holes in polygons]
                geometry = parts[0] if len(parts) == 1 else MultiPolygon(parts)
            except ValueError:  # too few points for a ring
                geometry = None
        parcels[h.get("id")] = (chiban, geometry)
    return parcels


def compare_with_geos(path, rows):
    """Asserts that the report's geometry findings on `path` are GEOS's."""
    parcels = read_polygons(path)
    uncompared = {r["筆ID"] for r in rows if r["kind"] in UNCOMPARED}
    ours_invalid = {r["筆ID"] for r in rows if r["kind"] in ("ring_self_intersects", "hole_outside")}
    geos_invalid = {}
    valid = []
    for pid, (chiban, geometry) in parcels.items():
        if "地区外" in chiban or pid in uncompared:
            continue
        if geometry is None:
            continue
        reason = explain_validity(geometry)
        if reason != "Valid Geometry":
            geos_invalid[pid] = reason
        elif not any(word in chiban for word in LEFT_OUT):
            valid.append((pid, geometry))
    name = os.path.basename(path)
    assert set(geos_invalid) == ours_invalid, f"{name}: GEOS {geos_invalid}, report {sorted(ours_invalid)}"
    for r in rows:
        if r["kind"] == "hole_outside" and "outside" in r["detail"]:
            assert "Hole lies outside shell" in geos_invalid[r["筆ID"]], (name, r)
        if r["kind"] == "ring_self_intersects":
            assert "elf-intersection" in geos_invalid[r["筆ID"]], (name, r)
    geometries = [g for _, g in valid]
    tree = STRtree(geometries)
    index_of = {id(g): i for i, g in enumerate(geometries)}
    geos_overlaps = {}
    for i, (pid, g) in enumerate(valid):
        for other in tree.query(g):
            j = other if isinstance(other, int) else index_of[id(other)]
            if j <= i:
                continue
            area = g.intersection(geometries[j]).area
            if area > 0.01:
                geos_overlaps[frozenset((pid, valid[j][0]))] = area
    ours_overlaps = {}
    for r in rows:
        if r["kind"] != "overlap":
            continue
        other = re.search(r"\(筆ID ([^)]*)\)", r["detail"]).group(1)
        area = float(re.search(r"by ([0-9.]+) m2", r["detail"]).group(1))
        ours_overlaps[frozenset((r["筆ID"], other))] = area
    assert set(geos_overlaps) == set(ours_overlaps), f"{name}: GEOS {geos_overlaps}, report {ours_overlaps}"
    for pair, area in ours_overlaps.items():
        assert abs(area - geos_overlaps[pair]) < 0.001 + 1e-6 * area, (name, pair, area, geos_overlaps[pair])
    return len(geos_invalid), len(geos_overlaps)


# ---- Generated map files ------------------------------------------------------------------------


class MapWriter:
    """A map file in the published layout, from rings given as lists of (X, Y) in metres."""

    def __init__(self, municipality="13113", coord_system="公共座標9系", origin=(-37000.0, -12000.0)):
        self.municipality = municipality
        self.coord_system = coord_system
        self.origin = origin
        self.points = {}
        self.curves = []
        self.surfaces = []
        self.parcels = []
        self.sheets = []

    def point(self, xy):
        key = (round(self.origin[0] + xy[0], 3), round(self.origin[1] + xy[1], 3))
        if key not in self.points:
            self.points[key] = len(self.points) + 1
        return self.points[key]

    def ring(self, coords, close=True):
        """Curve ids of a ring of two-point curves; `close` adds the curve back to the start."""
        ids = []
        ends = list(coords) + ([coords[0]] if close else [])
        for a, b in zip(ends, ends[1:]):
            self.curves.append((self.point(a), self.point(b)))
            ids.append(len(self.curves))
        return ids

    def parcel(self, chiban, rings, oaza_code="001", koaza="", curve_ids=None):
        """`rings`: (interior, coords) pairs; returns the parcel's id number."""
        refs = [(interior, self.ring(coords)) for interior, coords in rings]
        if curve_ids is not None:
            refs = [(False, curve_ids)]
        self.surfaces.append(refs)
        self.parcels.append((chiban, len(self.surfaces), oaza_code, koaza))
        return len(self.parcels)

    def sheet(self, number, parcels, frame=None):
        self.sheets.append((number, parcels, frame))

    def text(self):
        out = ['<?xml version="1.0" encoding="UTF-8"?>',
               '<地図 xmlns="http://www.moj.go.jp/MINJI/tizuxml" xmlns:zmn="http://www.moj.go.jp/MINJI/tizuzumen">',
               "\t<地図名>generated</地図名>", f"\t<市区町村コード>{self.municipality}</市区町村コード>",
               "\t<市区町村名>test</市区町村名>", f"\t<座標系>{self.coord_system}</座標系>", "\t<空間属性>"]
        for (x, y), n in sorted(self.points.items(), key=lambda kv: kv[1]):
            out += [f'\t\t<zmn:GM_Point id="P{n:09d}">', "\t\t\t<zmn:GM_Point.position>", "\t\t\t\t<zmn:DirectPosition>",
                    f"\t\t\t\t\t<zmn:X>{x:.3f}</zmn:X>", f"\t\t\t\t\t<zmn:Y>{y:.3f}</zmn:Y>",
                    "\t\t\t\t</zmn:DirectPosition>", "\t\t\t</zmn:GM_Point.position>", "\t\t</zmn:GM_Point>"]
        for n, (a, b) in enumerate(self.curves, 1):
            out += [f'\t\t<zmn:GM_Curve id="C{n:09d}">', "\t\t\t<zmn:GM_Curve.segment>", "\t\t\t\t<zmn:GM_LineString>",
                    "\t\t\t\t\t<zmn:GM_LineString.controlPoint>"]
            for p in (a, b):
                out += ["\t\t\t\t\t\t<zmn:GM_PointArray.column>", "\t\t\t\t\t\t\t<zmn:GM_Position.indirect>",
                        f'\t\t\t\t\t\t\t\t<zmn:GM_PointRef.point idref="P{p:09d}"/>',
                        "\t\t\t\t\t\t\t</zmn:GM_Position.indirect>", "\t\t\t\t\t\t</zmn:GM_PointArray.column>"]
            out += ["\t\t\t\t\t</zmn:GM_LineString.controlPoint>", "\t\t\t\t</zmn:GM_LineString>",
                    "\t\t\t</zmn:GM_Curve.segment>", "\t\t</zmn:GM_Curve>"]
        for n, rings in enumerate(self.surfaces, 1):
            out += [f'\t\t<zmn:GM_Surface id="F{n:09d}">', "\t\t\t<zmn:GM_Surface.patch>", "\t\t\t\t<zmn:GM_Polygon>",
                    "\t\t\t\t\t<zmn:GM_Polygon.boundary>", "\t\t\t\t\t\t<zmn:GM_SurfaceBoundary>"]
            for interior, ids in rings:
                tag = "interior" if interior else "exterior"
                out += [f"\t\t\t\t\t\t\t<zmn:GM_SurfaceBoundary.{tag}>", "\t\t\t\t\t\t\t\t<zmn:GM_Ring>"]
                out += [f'\t\t\t\t\t\t\t\t\t<zmn:GM_CompositeCurve.generator idref="C{c:09d}"/>' for c in ids]
                out += ["\t\t\t\t\t\t\t\t</zmn:GM_Ring>", f"\t\t\t\t\t\t\t</zmn:GM_SurfaceBoundary.{tag}>"]
            out += ["\t\t\t\t\t\t</zmn:GM_SurfaceBoundary>", "\t\t\t\t\t</zmn:GM_Polygon.boundary>",
                    "\t\t\t\t</zmn:GM_Polygon>", "\t\t\t</zmn:GM_Surface.patch>", "\t\t</zmn:GM_Surface>"]
        out += ["\t</空間属性>", "\t<主題属性>"]
        for n, (chiban, surface, oaza_code, koaza) in enumerate(self.parcels, 1):
            out += [f'\t\t<筆 id="H{n:09d}">', f"\t\t\t<大字コード>{oaza_code}</大字コード>", "\t\t\t<丁目コード>000</丁目コード>",
                    "\t\t\t<小字コード>0000</小字コード>", "\t\t\t<予備コード>00</予備コード>", "\t\t\t<大字名>試験町</大字名>"]
            if koaza:
                out.append(f"\t\t\t<小字名>{koaza}</小字名>")
            out += [f"\t\t\t<地番>{chiban}</地番>", f'\t\t\t<形状 idref="F{surface:09d}"/>', "\t\t</筆>"]
        out.append("\t</主題属性>")
        for number, parcels, frame in self.sheets:
            out += ["\t<図郭>", f"\t\t<地図番号>{number}</地図番号>"]
            if frame:
                (x0, y0), (x1, y1) = frame
                for tag, (x, y) in (("左下", (x0, y0)), ("左上", (x1, y0)), ("右下", (x0, y1)), ("右上", (x1, y1))):
                    out += [f"\t\t<{tag}座標>", f"\t\t\t<zmn:X>{self.origin[0] + x:.3f}</zmn:X>",
                            f"\t\t\t<zmn:Y>{self.origin[1] + y:.3f}</zmn:Y>", f"\t\t</{tag}座標>"]
            out += [f'\t\t<筆参照 idref="H{p:09d}"/>' for p in parcels]
            out.append("\t</図郭>")
        out.append("</地図>")
        return "\r\n".join(out).encode(errors="surrogateescape") + b"\r\n"


def square(x, y, size=10.0):
    return [(x, y), (x, y + size), (x + size, y + size), (x + size, y)]


def planted_map():
    """Each kind planted once (zone_implausible and damaged_file apart), among clean parcels; returns
    the bytes and the kind expected of each planted parcel's 地番."""
    w = MapWriter()
    listed = []
    expect = {}

    def add(chiban, rings, kind=None, listed_by_sheet=True, **kw):
        n = w.parcel(chiban, rings, **kw)
        if listed_by_sheet:
            listed.append(n)
        if kind:
            expect[chiban] = kind
        return n

    add("1", [(False, square(0, 0))])
    add("2", [(False, square(0, 10))])  # shares an edge with 1
    add("3", [(False, [(0, 30), (0, 50), (20, 50), (20, 30)]), (True, square(5, 35))])  # a sound hole
    add("4", [(False, square(0, 60))])
    add("5", [(False, [(0, 70), (0, 80), (10, 80), (10, 70), (5, 70)])])  # a vertex on 4's edge
    # A ring whose last curve stops half a metre short of its start.
    c = w.ring([(0, 90), (0, 100), (10, 100), (10, 90), (0.5, 90)], close=False)
    add("6", [], "ring_not_closed", curve_ids=c)
    add("7", [(False, [(0, 120), (10, 120)])], "ring_degenerate")
    add("8", [(False, [(0, 150), (10, 160), (0, 160), (10, 150)])], "ring_self_intersects")
    add("9", [(False, square(0, 180)), (True, square(20, 180, 5))], "hole_outside")
    add("10", [(False, square(0, 210))], "overlap")
    add("11", [(False, square(0, 215))])
    add("12", [(False, square(0, 240))])
    add("12", [(False, square(0, 270))], "duplicate_lot")
    add("14", [(False, square(0, 300))], "not_in_sheet", listed_by_sheet=False)
    add("15", [(False, square(0, 400))], "outside_sheet")
    add("16", [], "missing_reference", curve_ids=[len(w.curves) + 1000])
    add("17", [(False, square(0, 330))], "damaged_file", koaza="\udcff")
    w.sheet("M1", listed, frame=((-5, -5), (30, 345)))
    return w.text(), expect


def random_map(seed, count=300):
    """Parcels of random outlines, some with holes, strewn so that many cross, overlap or touch."""
    rng = random.Random(seed)
    w = MapWriter()
    parcels = []
    for n in range(count):
        cx, cy = rng.uniform(0, 400), rng.uniform(0, 400)
        sides = rng.randint(3, 8)
        angles = sorted(rng.uniform(0, 2 * math.pi) for _ in range(sides))
        if rng.random() < 0.2:
            rng.shuffle(angles)  # likely to cross itself
        radius = rng.uniform(3, 25)
        shell = [(round(cx + radius * rng.uniform(0.5, 1) * math.cos(a), 1),
                  round(cy + radius * rng.uniform(0.5, 1) * math.sin(a), 1)) for a in angles]
        rings = [(False, shell)]
        if rng.random() < 0.3:
            hx, hy = cx + rng.uniform(-radius, radius) * 0.6, cy + rng.uniform(-radius, radius) * 0.6
            size = rng.uniform(0.5, radius * 0.6)
            rings.append((True, [(round(x, 1), round(y, 1)) for x, y in square(hx, hy, size)]))
        parcels.append(w.parcel(str(n + 1), rings))
    w.sheet("M1", parcels)
    return w.text()


def boundary_point_names(path):
    """(easting, northing) -> 点番名 of each 筆界点 of the file, straight from the XML."""
    with open(path, "rb") as f:
        root = ET.fromstring(f.read().decode("utf-8", "replace"))
    points = {}
    for p in root.iter(Z + "GM_Point"):
        pos = p.find(".//z:DirectPosition", NS)
        points[p.get("id")] = (float(pos.find("z:Y", NS).text), float(pos.find("z:X", NS).text))
    names = {}
    for b in root.iter(M + "筆界点"):
        shape = b.find("m:形状", NS)
        if shape is not None and shape.get("idref") in points:
            names.setdefault(points[shape.get("idref")], b.findtext("m:点番名", "", NS))
    return names


def relabelled(path, coord_system):
    with open(path, "rb") as f:
        data = f.read()
    return re.sub("<座標系>[^<]*</座標系>".encode(), f"<座標系>{coord_system}</座標系>".encode(), data, count=1)


def parcel_block(data, chiban):
    """The span of the 筆 element whose 地番 is `chiban`."""
    at = data.index(f"<地番>{chiban}</地番>".encode())
    start = data.rindex("\t\t<筆 ".encode(), 0, at)
    end = data.index("</筆>".encode(), at) + len("</筆>\r\n".encode())
    return start, end


def edited_release(data):
    """The file as a next release might give it: every 筆ID renumbered, 75-2 and 75-3 removed, 75-100
    added, 75-4 renumbered to 75-400, 75-5's 座標値種別 changed, and one boundary point of 75-10 moved
    half a metre north. Returns the bytes and the point moved, as (easting, northing)."""
    data = re.sub(rb'"H(\d{9})"', lambda m: b'"H%09d"' % (int(m.group(1)) + 500000), data)
    start, end = parcel_block(data, "75-1")
    added = data[start:end].replace("<地番>75-1<".encode(), "<地番>75-100<".encode())
    added = re.sub(rb'<\xe7\xad\x86 id="H\d+"', '<筆 id="H999999999"'.encode(), added)
    data = data[:end] + added + data[end:]
    for chiban in ("75-2", "75-3"):
        start, end = parcel_block(data, chiban)
        data = data[:start] + data[end:]
    data = data.replace("<地番>75-4<".encode(), "<地番>75-400<".encode(), 1)
    start, end = parcel_block(data, "75-5")
    data = data[:start] + data[start:end].replace("図上測量".encode(), "現地測量".encode()) + data[end:]
    # The first point of 75-10's first curve, wherever a curve gives it.
    start, end = parcel_block(data, "75-10")
    surface = re.search(rb'<\xe5\xbd\xa2\xe7\x8a\xb6 idref="([^"]+)"', data[start:end]).group(1)
    s_at = data.index(b'<zmn:GM_Surface id="' + surface + b'"')
    curve = re.search(rb'generator idref="([^"]+)"', data[s_at:]).group(1)
    c_at = data.index(b'<zmn:GM_Curve id="' + curve + b'"')
    body = data[c_at:data.index(b"</zmn:GM_Curve>", c_at)]
    column = body[body.index(b"<zmn:GM_PointArray.column>"):]
    ref = re.match(rb'\s*<zmn:GM_PointArray.column>\s*<zmn:GM_Position.indirect>\s*<zmn:GM_PointRef.point idref="([^"]+)"',
                   column)
    if ref:  # a point of its own, which every curve naming it follows
        p_at = data.index(b'<zmn:GM_Point id="' + ref.group(1) + b'"')
        column = data[p_at:]
    xy = re.search(rb"<zmn:X>([-0-9.]+)</zmn:X>\s*<zmn:Y>([-0-9.]+)</zmn:Y>", column)
    x, y = xy.group(1), xy.group(2)
    moved = b"%.3f" % (float(x) + 0.5)
    data = re.sub(rb"<zmn:X>" + re.escape(x) + rb"</zmn:X>(\s*)<zmn:Y>" + re.escape(y) + rb"</zmn:Y>",
                  lambda m: b"<zmn:X>" + moved + b"</zmn:X>" + m.group(1) + b"<zmn:Y>" + y + b"</zmn:Y>", data)
    return data, (float(y), float(x))


def check_diff(program, tmp, real_path):
    with open(real_path, "rb") as f:
        data = f.read()
    old = os.path.join(tmp, "old.xml")
    new = os.path.join(tmp, "new.xml")
    with open(old, "wb") as f:
        f.write(data)
    edited, point = edited_release(data)
    with open(new, "wb") as f:
        f.write(edited)
    # The parcels that use the moved point, read from the file itself.
    using = sorted(chiban for chiban, g in read_polygons(old).values()
                   if g is not None and point in [c for ring in [g.exterior] + list(g.interiors) for c in ring.coords])
    assert "75-10" in using, using
    # Its 点番名, which the parcels that use it tell.
    moved_name = boundary_point_names(old)[point]
    report = os.path.join(tmp, "diff.csv")
    done = subprocess.run([program, "--diff", report, old, new], capture_output=True)
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    rows = read_report(report)
    changes = sorted((r["change"], r["地番"]) for r in rows)
    wanted = sorted([("added", "75-100"), ("added", "75-400"), ("removed", "75-2"), ("removed", "75-3"),
                     ("removed", "75-4"), ("attributes", "75-5")] + [("reshaped", c) for c in using])
    assert changes == wanted, f"diff: {changes} != {wanted}"
    for r in rows:
        if r["change"] == "reshaped":
            assert r["max_shift_m"] == "0.500" and "1 vertices moved" in r["detail"], r
            assert f"boundary point {moved_name} moved 0.500 m" in r["detail"], r
            assert r["old_筆ID"] != r["new_筆ID"] and r["old_area"] != r["new_area"], r
        if r["change"] == "attributes":
            assert r["detail"] == '座標値種別 "図上測量" to "現地測量"', r
            assert (r["old_筆ID"], r["new_筆ID"]) == ("H000000005", "H000500005"), r
    # Every 筆ID renumbered and nothing else: no change at all.
    renumbered = os.path.join(tmp, "renumbered.xml")
    with open(renumbered, "wb") as f:
        f.write(re.sub(rb'"H(\d{9})"', lambda m: b'"H%09d"' % (int(m.group(1)) + 7), data))
    done = subprocess.run([program, "--diff", report, old, renumbered], capture_output=True)
    assert done.returncode == 0 and read_report(report) == [], done.stderr
    # The same rows as GeoJSON features, each with the new outline or, removed, the old one.
    geojson = os.path.join(tmp, "diff.geojson")
    done = subprocess.run([program, "--diff", geojson, old, new], capture_output=True)
    assert done.returncode == 0, done.stderr
    with open(geojson, encoding="utf-8") as f:
        features = json.load(f)["features"]
    assert sorted((f["properties"]["change"], f["properties"]["地番"]) for f in features) == wanted
    assert all(f["geometry"]["type"] == "MultiPolygon" for f in features)
    # The drawing: every parcel of the new release, the changed ones by kind (p1 added, p2 reshaped,
    # p3 attributes) and the removed ones outlined in red, besides the legend's red swatch.
    drawing = os.path.join(tmp, "diff.svg")
    done = subprocess.run([program, "--diff", drawing, old, new], capture_output=True)
    assert done.returncode == 0, done.stderr
    svg = ET.parse(drawing).getroot()
    polygons = [p.get("class") for p in svg.iter("{http://www.w3.org/2000/svg}polygon")]
    for cls, change in (("p1", "added"), ("p2", "reshaped"), ("p3", "attributes")):
        assert polygons.count(cls) == sum(1 for c, _ in wanted if c == change), (cls, polygons.count(cls))
    red = [p for p in svg.iter("{http://www.w3.org/2000/svg}path") if p.get("stroke") == "#d32f2f"]
    assert len(red) == 1 + sum(1 for c, _ in wanted if c == "removed"), len(red)
    assert all(float(p.get("stroke-dasharray", "0")) > 0 for p in red), "removed outlines are dashed"
    shaped_new = sum(1 for chiban, g in read_polygons(new).values()
                     if g is not None and not any(word in chiban for word in LEFT_OUT))
    assert len(polygons) == shaped_new, (len(polygons), shaped_new)
    pdf = os.path.join(tmp, "diff.pdf")
    done = subprocess.run([program, "--diff", pdf, old, new], capture_output=True)
    assert done.returncode == 0, done.stderr
    text = subprocess.run(["pdftotext", pdf, "-"], capture_output=True).stdout.decode()
    assert "removed (old outline)" in text and "Changes from old.xml to new.xml" in text, text
    # The parcels are filled on the page too: the unchanged ones' light grey covers much of it.
    page = subprocess.run(["pdftoppm", "-r", "20", "-gray", pdf], capture_output=True).stdout
    width, height = map(int, page.split(b"\n")[1].split())
    pixels = page[-width * height:]
    grey = sum(1 for v in pixels if 0xe4 <= v <= 0xf4)
    assert grey > len(pixels) // 10, (grey, len(pixels))
    print(f"diff: {len(rows)} changes, {len(using)} parcels reshaped by one moved point")


def main():
    program = sys.argv[1]
    folders = sys.argv[2:]
    real = []
    for folder in folders:
        if os.path.isdir(folder):
            real += sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".xml"))
    with tempfile.TemporaryDirectory() as tmp:
        # Real files: every geometry finding is GEOS's, and GEOS finds nothing else.
        for path in real:
            report = os.path.join(tmp, "real.csv")
            run_check(program, report, [path])
            rows = read_report(report)
            invalid, overlaps = compare_with_geos(path, rows)
            print(f"{path}: {len(rows)} findings {sorted({r['kind'] for r in rows})}; "
                  f"GEOS: {invalid} invalid, {overlaps} overlaps")

        # Planted faults: each once, where planted, and nothing from the clean parcels.
        data, expect = planted_map()
        planted = os.path.join(tmp, "planted.xml")
        with open(planted, "wb") as f:
            f.write(data)
        report = os.path.join(tmp, "planted.csv")
        summary = run_check(program, report, [planted])
        rows = read_report(report)
        found = sorted((r["地番"].replace("試験町", "").replace("\ufffd", ""), r["kind"]) for r in rows)
        wanted = sorted((chiban, kind) for chiban, kind in expect.items())
        assert found == wanted, f"planted: {found} != {wanted}"
        assert len(rows) == len(expect) and "  overlap: 1" in summary, summary
        compare_with_geos(planted, rows)
        # The same findings as GeoJSON, with longitude and latitude.
        geojson = os.path.join(tmp, "planted.geojson")
        run_check(program, geojson, [planted])
        with open(geojson, encoding="utf-8") as f:
            features = json.load(f)["features"]
        assert [(f["properties"]["筆ID"], f["properties"]["kind"]) for f in features] == \
            [(r["筆ID"], r["kind"]) for r in rows]
        for feature in features:
            if feature["geometry"] is not None:
                lon, lat = feature["geometry"]["coordinates"]
                assert 139.5 < lon < 140.0 and 35.4 < lat < 35.8, feature

        # Random outlines: GEOS and the report agree on every crossing, hole and overlap.
        for seed in (1, 2, 3):
            strewn = os.path.join(tmp, f"random{seed}.xml")
            with open(strewn, "wb") as f:
                f.write(random_map(seed))
            run_check(program, report, [strewn])
            rows = read_report(report)
            invalid, overlaps = compare_with_geos(strewn, rows)
            assert invalid > 10 and overlaps > 50, (seed, invalid, overlaps)
            print(f"random map {seed}: {len(rows)} findings; GEOS: {invalid} invalid, {overlaps} overlaps")

        # A real file relabelled to a zone of another prefecture.
        tokyo = next((p for p in real if os.path.basename(p).startswith("13113")), None)
        if tokyo:
            moved = os.path.join(tmp, "moved.xml")
            with open(moved, "wb") as f:
                f.write(relabelled(tokyo, "公共座標2系"))
            run_check(program, report, [moved])
            rows = read_report(report)
            assert [r["kind"] for r in rows] == ["zone_implausible"], rows
            assert "公共座標9系 fits" in rows[0]["detail"], rows[0]

        if tokyo:
            check_diff(program, tmp, tokyo)

        # A damaged archive: an inner zip of no bytes and a cut-off map file, beside a sound one.
        archive = os.path.join(tmp, "13113-0110.zip")
        with zipfile.ZipFile(archive, "w") as z:
            sound = io.BytesIO()
            with zipfile.ZipFile(sound, "w") as inner:
                inner.writestr("13113-0110-1.xml", planted_map()[0].replace(b"\xff", b"x"))
            z.writestr("13113-0110-1.zip", sound.getvalue())
            z.writestr("13113-0110-2.zip", b"")
            cut = io.BytesIO()
            with zipfile.ZipFile(cut, "w") as inner:
                text = planted_map()[0].replace(b"\xff", b"x")
                inner.writestr("13113-0110-3.xml", text[: text.index(b"<\xe5\x9b\xb3\xe9\x83\xad>")])
            z.writestr("13113-0110-3.zip", cut.getvalue())
        run_check(program, report, [archive])
        rows = read_report(report)
        damaged = [(r["file"], r["detail"]) for r in rows if r["kind"] == "damaged_file"]
        assert [f for f, _ in damaged] == ["13113-0110-2.xml", "13113-0110-3.xml"], damaged
        assert "cut off" in damaged[1][1], damaged
    print("ok")


if __name__ == "__main__":
    main()
