#include "mapxml/map_xml_reader.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "common/ascii.hpp"
#include "common/fixed_text.hpp"
#include "common/numbers.hpp"
#include "mapxml/line_reader.hpp"
#include "mapxml/stream_input.hpp"
#include "mapxml/xml_layout.hpp"
#include "mapxml/zip_input.hpp"
#include "model/id_index.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

// Root.
constexpr std::string_view kRootOpen = "<地図 ";
constexpr std::string_view kRootOpenBare = "<地図>";
constexpr std::string_view kRootClose = "</地図>";

// Head.
constexpr std::string_view kMapNameOpen = "<地図名>";
constexpr std::string_view kMapNameClose = "</地図名>";
constexpr std::string_view kMunicipalityOpen = "<市区町村名>";
constexpr std::string_view kMunicipalityClose = "</市区町村名>";
constexpr std::string_view kCoordSystemOpen = "<座標系>";
constexpr std::string_view kCoordSystemClose = "</座標系>";
constexpr std::string_view kMunicipalityCodeOpen = "<市区町村コード>";
constexpr std::string_view kMunicipalityCodeClose = "</市区町村コード>";
constexpr std::string_view kGeodeticOpen = "<測地系判別>";
constexpr std::string_view kGeodeticClose = "</測地系判別>";

// Sections.
constexpr std::string_view kSpatialOpen = "<空間属性>";
constexpr std::string_view kSpatialClose = "</空間属性>";
constexpr std::string_view kThematicOpen = "<主題属性>";
constexpr std::string_view kThematicClose = "</主題属性>";
constexpr std::string_view kSheetOpen = "<図郭>";
constexpr std::string_view kSheetClose = "</図郭>";

// Spatial elements.
constexpr std::string_view kCurveOpen = "<zmn:GM_Curve id=\"";
constexpr std::string_view kCurveClose = "</zmn:GM_Curve>";
constexpr std::string_view kIndirectOpen = "<zmn:GM_Position.indirect>";
constexpr std::string_view kIndirectClose = "</zmn:GM_Position.indirect>";
constexpr std::string_view kPointRef = "<zmn:GM_PointRef.point idref=\"";
constexpr std::string_view kPointOpen = "<zmn:GM_Point id=\"";
constexpr std::string_view kPointClose = "</zmn:GM_Point>";
constexpr std::string_view kXOpen = "<zmn:X>";
constexpr std::string_view kXClose = "</zmn:X>";
constexpr std::string_view kYOpen = "<zmn:Y>";
constexpr std::string_view kYClose = "</zmn:Y>";
constexpr std::string_view kSurfaceOpen = "<zmn:GM_Surface id=\"";
constexpr std::string_view kSurfaceClose = "</zmn:GM_Surface>";
constexpr std::string_view kRingOpen = "<zmn:GM_Ring>";
constexpr std::string_view kRingClose = "</zmn:GM_Ring>";
constexpr std::string_view kGeneratorRef = "<zmn:GM_CompositeCurve.generator idref=\"";
constexpr std::string_view kCurveOrientationOpen = "<zmn:GM_OrientablePrimitive.orientation>";
constexpr std::string_view kDirectOpen = "<zmn:GM_Position.direct>";
constexpr std::string_view kDirectClose = "</zmn:GM_Position.direct>";
constexpr std::string_view kInteriorOpen = "<zmn:GM_SurfaceBoundary.interior>";
constexpr std::string_view kExteriorOpen = "<zmn:GM_SurfaceBoundary.exterior>";

// Parcels.
constexpr std::string_view kParcelOpen = "<筆 id=\"";
constexpr std::string_view kParcelClose = "</筆>";
constexpr std::string_view kUndeterminedOpen = "<筆界未定構成筆>";
constexpr std::string_view kUndeterminedClose = "</筆界未定構成筆>";
constexpr std::string_view kOazaOpen = "<大字名>";
constexpr std::string_view kChomeOpen = "<丁目名>";
constexpr std::string_view kKoazaOpen = "<小字名>";
constexpr std::string_view kYobiOpen = "<予備名>";
constexpr std::string_view kChibanOpen = "<地番>";
constexpr std::string_view kShapeRef = "<形状 idref=\"";
constexpr std::string_view kOazaCodeOpen = "<大字コード>";
constexpr std::string_view kChomeCodeOpen = "<丁目コード>";
constexpr std::string_view kKoazaCodeOpen = "<小字コード>";
constexpr std::string_view kYobiCodeOpen = "<予備コード>";
constexpr std::string_view kAccuracyOpen = "<精度区分>";
constexpr std::string_view kPositionKindOpen = "<座標値種別>";
constexpr std::string_view kOutsideDistrict = "地区外";

// Named points.
constexpr std::string_view kBoundaryPointOpen = "<筆界点>";
constexpr std::string_view kBoundaryPointClose = "</筆界点>";
constexpr std::string_view kPointNameOpen = "<点番名>";
constexpr std::string_view kControlPointOpen = "<基準点>";
constexpr std::string_view kControlPointClose = "</基準点>";
constexpr std::string_view kControlNameOpen = "<名称>";
constexpr std::string_view kControlKindOpen = "<基準点種別>";

// Map sheets.
constexpr std::string_view kMapNoOpen = "<地図番号>";
constexpr std::string_view kMapNoClose = "</地図番号>";
constexpr std::string_view kParcelRef = "<筆参照 idref=\"H";
constexpr std::string_view kScaleOpen = "<縮尺分母>";
constexpr std::string_view kScaleClose = "</縮尺分母>";
constexpr std::string_view kOrientationOpen = "<方位不明フラグ>";
constexpr std::string_view kOrientationClose = "</方位不明フラグ>";
constexpr std::string_view kSheetKindOpen = "<地図種類>";
constexpr std::string_view kSheetClassOpen = "<地図分類>";
constexpr std::string_view kSheetMaterialOpen = "<地図材質>";
constexpr std::string_view kMadeOnOpen = "<地図作成年月日>";
constexpr std::string_view kMadeOnClose = "</地図作成年月日>";
constexpr std::string_view kYearOpen = "<年>";
constexpr std::string_view kMonthOpen = "<月>";
constexpr std::string_view kDayOpen = "<日>";
// The frame's corners, in the order MapSheet keeps them.
constexpr std::string_view kLowerLeftOpen = "<左下座標>";
constexpr std::string_view kUpperLeftOpen = "<左上座標>";
constexpr std::string_view kLowerRightOpen = "<右下座標>";
constexpr std::string_view kUpperRightOpen = "<右上座標>";

constexpr std::string_view kZipExtension = ".zip";

// Whether the root element was met, opened and closed.
struct RootSeen {
    bool opened = false;
    bool closed = false;
};

struct ReadState {
    RootSeen& root;
    LineReader& lines;
    MapDataset& dataset;
    MapHeader& header;
    const ReadOptions& options;
    IdIndex parcel_index;          // kept parcels by number, the first kept one wins
    char current_map_no[16] = {};  // carried over from one map sheet to the next
    double pending_x = 0.0;        // the x of the point record being written
};

// A line and the positions of its '<' bytes, which the tag tests look at.
using TaggedLine = Line;

bool next_line(LineReader& lines, TaggedLine& line) { return lines.read_line(line); }

std::uint32_t word4_at(const char* p) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The first occurrence of a literal beyond the kept '<' positions of a line; rare.
std::size_t find_after_kept(const TaggedLine& line, std::string_view literal) {
    return line.text.find(literal, line.tags.at[LineTags::kKept - 1] + 1);
}

// Position of the first occurrence of kLiteral (a tag, so it begins with '<'), as a search of the
// whole line would give it. One function per literal, so that its length and words are constants.
template <const std::string_view& kLiteral>
std::size_t find_tag(const TaggedLine& line) {
    constexpr std::size_t n = kLiteral.size();
    static_assert(n >= 4 && kLiteral[0] == '<');
    const std::size_t size = line.text.size();
    const char* const text = line.text.data();
    for (std::uint32_t i = 0; i < line.tags.count; ++i) {
        const std::size_t pos = line.tags.at[i];
        if (n > size - pos) return std::string_view::npos;  // later ones fit even less
        // The first and last four bytes reject almost every position; they are the whole of a
        // literal of up to eight bytes.
        if (word4_at(text + pos) != word4_at(kLiteral.data())) continue;
        if (word4_at(text + pos + n - 4) != word4_at(kLiteral.data() + n - 4)) continue;
        if (n <= 8 || std::memcmp(text + pos + 4, kLiteral.data() + 4, n - 8) == 0) return pos;
    }
    return line.tags.more ? find_after_kept(line, kLiteral) : std::string_view::npos;
}

template <const std::string_view& kLiteral>
bool contains(const TaggedLine& line) {
    return find_tag<kLiteral>(line) != std::string_view::npos;
}

// The rest of the line after the first occurrence of kLiteral, or false when it is absent.
template <const std::string_view& kLiteral>
bool text_after(const TaggedLine& line, std::string_view& rest) {
    const std::size_t pos = find_tag<kLiteral>(line);
    if (pos == std::string_view::npos) return false;
    rest = line.text.substr(pos + kLiteral.size());
    return true;
}

// The decoded text of a value taken out of a line. The reader uses each value before it takes the
// next, so one buffer serves them all.
std::string_view decoded(std::string_view value) {
    if (value.find('&') == std::string_view::npos) return value;
    thread_local std::string scratch;
    return decode_xml_text(value, scratch);
}

// Value up to a terminator on the same line; false when the terminator is absent.
bool value_until(std::string_view rest, std::string_view terminator, std::string_view& value) {
    const std::size_t pos = rest.find(terminator);
    if (pos == std::string_view::npos) return false;
    value = rest.substr(0, pos);
    return true;
}

// The part of `rest` (the rest of `line`) before the first `terminator`, which begins with '<'; false
// when there is none. Where the line's next '<' is one it kept and begins the terminator, the value
// ends there without a search.
bool value_before_tag(const TaggedLine& line, std::string_view rest, std::string_view terminator,
                      std::string_view& value) {
    const auto from = static_cast<std::size_t>(rest.data() - line.text.data());
    if (line.tags.count >= 2 && line.tags.at[1] >= from && line.text.substr(line.tags.at[1]).starts_with(terminator)) {
        value = line.text.substr(from, line.tags.at[1] - from);
        return true;
    }
    return value_until(rest, terminator, value);
}

// Identifier number of an id attribute: the text up to the closing quote must be on the line.
bool id_attribute(std::string_view rest, std::uint32_t& id_no) {
    std::string_view value;
    if (!value_until(rest, "\"", value)) return false;
    id_no = parse_id_number(value);
    return true;
}

// Coordinate value, cut at its end tag where the line has it; NaN for a text that is no number, so
// that the point is known as unreadable rather than put at the zone's origin. `rest` is the part of
// `line` after the opening tag.
double coordinate(const TaggedLine& line, std::string_view rest, std::string_view close_tag) {
    std::string_view value;
    if (!value_before_tag(line, rest, close_tag, value)) value = rest;
    double read = 0.0;
    // A number has no '&': only a value that is none as it stands is decoded and read again.
    if (parse_coordinate(value, read) || parse_coordinate(decoded(value), read)) return read;
    return std::numeric_limits<double>::quiet_NaN();
}

bool unreadable(double x, double y) { return std::isnan(x) || std::isnan(y); }

void raise(std::uint32_t& maximum, std::uint32_t value) {
    if (value > maximum) maximum = value;
}

// A head element: the text up to its end tag, or an empty field when the end tag is not on the line.
template <std::size_t N>
void read_head_value(char (&field)[N], std::string_view rest, std::string_view close_tag) {
    std::string_view value;
    if (!value_until(rest, close_tag, value)) value = {};
    copy_text(field, decoded(value));
}

void note_root(const TaggedLine& line, RootSeen& root) {
    if (!root.opened) root.opened = contains<kRootOpen>(line) || contains<kRootOpenBare>(line);
    if (!root.closed) root.closed = contains<kRootClose>(line);
}

// Reads the head up to and including the 座標系 line. False when the input ends first.
bool read_head(LineReader& lines, MapHeader& header, RootSeen& root) {
    TaggedLine line;
    std::string_view rest;
    while (next_line(lines, line)) {
        note_root(line, root);
        if (text_after<kMapNameOpen>(line, rest)) {
            read_head_value(header.map_name, rest, kMapNameClose);
        } else if (text_after<kMunicipalityOpen>(line, rest)) {
            read_head_value(header.municipality_name, rest, kMunicipalityClose);
        } else if (text_after<kMunicipalityCodeOpen>(line, rest)) {
            read_head_value(header.municipality_code, rest, kMunicipalityCodeClose);
        } else if (text_after<kCoordSystemOpen>(line, rest)) {
            read_head_value(header.coord_system, rest, kCoordSystemClose);
            return true;
        }
    }
    return false;
}

// A curve: every point reference and direct position in order, and its orientation. The first and
// last references are kept in the curve record too, for the continuity check of assembly.
void read_curve(ReadState& state, std::uint32_t id_no) {
    MapDataset& dataset = state.dataset;
    raise(dataset.max_curve_no, id_no);
    dataset.curves.push_back(MapCurve{id_no, 0, 0});
    MapCurve& curve = dataset.curves.back();
    CurveRun run;
    run.first = static_cast<std::uint32_t>(dataset.gis.curve_points.size());
    TaggedLine line;
    std::string_view rest;
    while (next_line(state.lines, line)) {
        if (contains<kCurveClose>(line)) break;
        if (text_after<kCurveOrientationOpen>(line, rest)) {
            run.reversed = rest.starts_with("-");
        } else if (contains<kIndirectOpen>(line)) {
            while (next_line(state.lines, line)) {
                if (contains<kIndirectClose>(line)) break;
                if (!text_after<kPointRef>(line, rest)) continue;
                const std::uint32_t point_no = parse_id_number(rest);
                (curve.start_point_no == 0 ? curve.start_point_no : curve.end_point_no) = point_no;
                // A number that looks like a direct position names a point no map file has.
                dataset.gis.curve_points.push_back((point_no & kDirectPosition) == 0 ? point_no : kNoSuchPoint);
            }
        } else if (contains<kDirectOpen>(line)) {
            PlanePosition position;
            while (next_line(state.lines, line)) {
                if (contains<kDirectClose>(line)) break;
                if (text_after<kXOpen>(line, rest)) position.x = coordinate(line, rest, kXClose);
                if (text_after<kYOpen>(line, rest)) position.y = coordinate(line, rest, kYClose);
            }
            // More than 2^31 positions would need a file far beyond any the reader takes in.
            dataset.gis.curve_points.push_back(kDirectPosition |
                                               static_cast<std::uint32_t>(dataset.gis.direct_positions.size()));
            dataset.gis.direct_positions.push_back(position);
            if (unreadable(position.x, position.y)) ++dataset.unreadable_points;
        }
    }
    run.count = static_cast<std::uint32_t>(dataset.gis.curve_points.size()) - run.first;
    dataset.gis.curves.push_back(run);
}

// A point is stored by its Y line, with the x last read: an X on the Y line itself does not count,
// and a point without a Y line leaves its x for the next point.
void read_point(ReadState& state, std::uint32_t id_no) {
    raise(state.dataset.max_point_no, id_no);
    TaggedLine line;
    std::string_view rest;
    while (next_line(state.lines, line)) {
        if (contains<kPointClose>(line)) return;
        if (text_after<kXOpen>(line, rest)) {
            state.pending_x = coordinate(line, rest, kXClose);
        } else if (text_after<kYOpen>(line, rest)) {
            const double y = coordinate(line, rest, kYClose);
            state.dataset.points.push_back(MapPoint{id_no, state.pending_x, y});
            if (unreadable(state.pending_x, y)) ++state.dataset.unreadable_points;
        }
    }
}

// Reads one ring's curve references, appended to ring_curves. Returns how many there were.
std::uint32_t read_ring(ReadState& state) {
    MapDataset& dataset = state.dataset;
    std::uint32_t ring_refs = 0;
    TaggedLine line;
    std::string_view rest;
    while (next_line(state.lines, line)) {
        if (contains<kRingClose>(line)) break;
        if (!text_after<kGeneratorRef>(line, rest)) continue;
        dataset.ring_curves.push_back(parse_id_number(rest));
        ++ring_refs;
    }
    raise(dataset.max_ring_curves, ring_refs);
    return ring_refs;
}

// A surface keeps every ring, each marked as a hole when it stands in an interior boundary.
void read_surface(ReadState& state, std::uint32_t id_no) {
    MapDataset& dataset = state.dataset;
    raise(dataset.max_surface_no, id_no);
    MapSurface surface;
    surface.id_no = id_no;
    surface.first_ring = static_cast<std::uint32_t>(dataset.rings.size());
    bool interior = false;
    TaggedLine line;
    while (next_line(state.lines, line)) {
        if (contains<kSurfaceClose>(line)) break;
        if (contains<kRingOpen>(line)) {
            const std::uint32_t first_ref = dataset.ring_curve_count();
            const std::uint32_t count = read_ring(state);
            dataset.rings.push_back(RingRun{first_ref, count, interior});
            ++surface.ring_count;
        } else if (contains<kInteriorOpen>(line)) {
            interior = true;
        } else if (contains<kExteriorOpen>(line)) {
            interior = false;
        }
    }
    dataset.surfaces.push_back(surface);
}

void read_spatial_section(ReadState& state) {
    TaggedLine line;
    std::string_view rest;
    std::uint32_t id_no = 0;
    while (next_line(state.lines, line)) {
        if (text_after<kCurveOpen>(line, rest)) {
            if (id_attribute(rest, id_no)) {
                read_curve(state, id_no);
            }
        } else if (text_after<kPointOpen>(line, rest)) {
            if (id_attribute(rest, id_no)) read_point(state, id_no);
        } else if (text_after<kSurfaceOpen>(line, rest)) {
            if (id_attribute(rest, id_no)) read_surface(state, id_no);
        } else if (contains<kSpatialClose>(line)) {
            return;
        }
    }
}

// Name and lot number values run up to the next "<" of the line; false without one. `rest` is the
// part of `line` after the opening tag.
bool name_value(const TaggedLine& line, std::string_view rest, std::string_view& value) {
    if (!value_before_tag(line, rest, "<", value)) return false;
    value = decoded(value);
    return true;
}

// A GIS text: an empty element (<a></a> or <a/>) is as absent as a missing one.
template <typename Detail, typename Field>
void set_text(Detail& detail, Field field, std::string_view value) {
    if (!value.empty()) detail.set(field, value);
}

// Appends `text` to `json` as a JSON string, or null when it is absent.
void append_json_string(std::string& json, bool present, std::string_view text) {
    if (!present) {
        json += "null";
        return;
    }
    json += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            json += escape;
        } else {
            json += c;
        }
    }
    json += '"';
}

// One 筆界未定構成筆 element: its codes, names and 地番 become one object of the parcel's JSON array,
// null where it leaves one out.
void read_undetermined_member(ReadState& state, ParcelDetail* detail) {
    struct Member {
        std::string_view name;  // the member's key, the element's name
        bool (*test)(const TaggedLine&, std::string_view&);
        bool present = false;
        std::string text;
    };
    Member members[] = {
        {"大字コード", text_after<kOazaCodeOpen>, false, {}},  {"丁目コード", text_after<kChomeCodeOpen>, false, {}},
        {"小字コード", text_after<kKoazaCodeOpen>, false, {}}, {"予備コード", text_after<kYobiCodeOpen>, false, {}},
        {"大字名", text_after<kOazaOpen>, false, {}},          {"丁目名", text_after<kChomeOpen>, false, {}},
        {"小字名", text_after<kKoazaOpen>, false, {}},         {"予備名", text_after<kYobiOpen>, false, {}},
        {"地番", text_after<kChibanOpen>, false, {}},
    };
    TaggedLine line;
    std::string_view rest;
    std::string_view value;
    while (next_line(state.lines, line) && !contains<kUndeterminedClose>(line)) {
        if (detail == nullptr) continue;
        for (Member& member : members) {
            if (!member.test(line, rest)) continue;
            if (name_value(line, rest, value)) {
                member.text = value;
                member.present = !value.empty();
            }
            break;
        }
    }
    if (detail == nullptr) return;
    // Appended in place: copying the array for each member would make many members quadratic.
    if (!detail->has(ParcelText::undetermined)) detail->set(ParcelText::undetermined, "[]");
    std::string& json = detail->texts[static_cast<std::size_t>(ParcelText::undetermined)];
    json.pop_back();
    if (json.size() > 1) json += ',';
    char separator = '{';
    for (const Member& member : members) {
        json += separator;
        json += '"';
        json += member.name;
        json += "\":";
        append_json_string(json, member.present, member.text);
        separator = ',';
    }
    json += "}]";
}

// The parcel texts that only GIS outputs keep, of lines the drawing's tests passed over.
void read_parcel_detail_line(const TaggedLine& line, ParcelDetail& detail) {
    std::string_view rest;
    std::string_view value;
    const auto take = [&](ParcelText field) {
        if (name_value(line, rest, value)) set_text(detail, field, value);
    };
    if (text_after<kOazaCodeOpen>(line, rest)) {
        take(ParcelText::oaza_code);
    } else if (text_after<kChomeCodeOpen>(line, rest)) {
        take(ParcelText::chome_code);
    } else if (text_after<kKoazaCodeOpen>(line, rest)) {
        take(ParcelText::koaza_code);
    } else if (text_after<kYobiCodeOpen>(line, rest)) {
        take(ParcelText::yobi_code);
    } else if (text_after<kAccuracyOpen>(line, rest)) {
        take(ParcelText::accuracy);
    } else if (text_after<kPositionKindOpen>(line, rest)) {
        take(ParcelText::position_kind);
    }
}

// `id_text` is the id attribute's value; with the GIS detail the parcel keeps it and its other texts.
void read_parcel(ReadState& state, std::uint32_t id_no, std::string_view id_text) {
    MapDataset& dataset = state.dataset;
    raise(dataset.max_parcel_no, id_no);
    if (id_no == 0) return;  // its lines go back to the section and are skipped there
    Parcel parcel;
    parcel.id_no = id_no;
    ParcelDetail detail_record;
    ParcelDetail* const detail = state.options.gis_detail ? &detail_record : nullptr;
    if (detail != nullptr) detail->set(ParcelText::parcel_id, decoded(id_text.substr(0, id_text.find('"'))));
    TaggedLine line;
    std::string_view rest;
    std::string_view value;
    while (next_line(state.lines, line)) {
        if (contains<kParcelClose>(line)) break;
        if (contains<kUndeterminedOpen>(line)) {
            // The names inside belong to the parcels of an undetermined boundary, not to this one.
            read_undetermined_member(state, detail);
        } else if (text_after<kOazaOpen>(line, rest)) {
            if (name_value(line, rest, value)) {
                copy_text(parcel.address, value);
                if (detail != nullptr) set_text(*detail, ParcelText::oaza, value);
            }
        } else if (text_after<kChomeOpen>(line, rest) || text_after<kKoazaOpen>(line, rest) ||
                   text_after<kYobiOpen>(line, rest)) {
            if (name_value(line, rest, value)) {
                append_text(parcel.address, value);
                if (detail != nullptr) {
                    const ParcelText field = contains<kChomeOpen>(line)   ? ParcelText::chome
                                             : contains<kKoazaOpen>(line) ? ParcelText::koaza
                                                                          : ParcelText::yobi;
                    set_text(*detail, field, value);
                }
            }
        } else if (text_after<kChibanOpen>(line, rest)) {
            if (name_value(line, rest, value)) {
                copy_text(parcel.chiban, value);
                if (detail != nullptr) set_text(*detail, ParcelText::chiban, value);
            }
        } else if (text_after<kShapeRef>(line, rest)) {
            parcel.shape_no = parse_id_number(rest);
        } else if (detail != nullptr) {
            read_parcel_detail_line(line, *detail);
        }
    }
    if (field_view(parcel.chiban).starts_with(kOutsideDistrict) && !state.options.keep_outside) {
        ++dataset.outside_parcels;
        if (dataset.outside_lots.size() < MapDataset::kOutsideLotsKept) {
            dataset.outside_lots.emplace_back(field_view(parcel.chiban));
        }
        return;
    }
    const auto position = dataset.parcel_count();
    dataset.parcels.push_back(parcel);
    state.parcel_index.insert_first(id_no, position);
    if (detail != nullptr) dataset.gis.parcels.push_back(std::move(detail_record));
}

// A 筆界点: its 点番名 and the point its 形状 names.
void read_boundary_point(ReadState& state) {
    BoundaryPoint point;
    TaggedLine line;
    std::string_view rest;
    std::string_view value;
    while (next_line(state.lines, line) && !contains<kBoundaryPointClose>(line)) {
        if (text_after<kPointNameOpen>(line, rest)) {
            if (name_value(line, rest, value)) copy_text(point.name, value);
        } else if (text_after<kShapeRef>(line, rest)) {
            point.point_no = parse_id_number(rest);
        }
    }
    if (point.point_no != 0 && point.name[0] != '\0') state.dataset.boundary_points.push_back(point);
}

// A 基準点: its 名称, 基準点種別 and the point its 形状 names.
void read_control_point(ReadState& state) {
    ControlPoint point;
    TaggedLine line;
    std::string_view rest;
    std::string_view value;
    while (next_line(state.lines, line) && !contains<kControlPointClose>(line)) {
        if (text_after<kControlNameOpen>(line, rest)) {
            if (name_value(line, rest, value)) copy_text(point.name, value);
        } else if (text_after<kControlKindOpen>(line, rest)) {
            if (name_value(line, rest, value)) copy_text(point.kind, value);
        } else if (text_after<kShapeRef>(line, rest)) {
            point.point_no = parse_id_number(rest);
        }
    }
    if (point.point_no != 0) state.dataset.control_points.push_back(point);
}

void read_thematic_section(ReadState& state) {
    TaggedLine line;
    std::string_view rest;
    std::uint32_t id_no = 0;
    const bool points = state.options.survey_points;
    while (next_line(state.lines, line)) {
        if (text_after<kParcelOpen>(line, rest)) {
            if (id_attribute(rest, id_no)) read_parcel(state, id_no, rest);
        } else if (contains<kThematicClose>(line)) {
            return;
        } else if (points && contains<kBoundaryPointOpen>(line)) {
            read_boundary_point(state);
        } else if (points && contains<kControlPointOpen>(line)) {
            read_control_point(state);
        }
    }
}

// The sheet being read, recorded at its first own element so that empty sheets cost nothing.
MapSheet& current_sheet(ReadState& state, bool& recorded) {
    auto& sheets = state.dataset.sheets;
    if (!recorded) {
        sheets.emplace_back();
        copy_text(sheets.back().map_no, field_view(state.current_map_no));
        recorded = true;
    }
    return sheets.back();
}

// Which frame corner a line opens, or -1.
int corner_opened(const TaggedLine& line) {
    if (contains<kLowerLeftOpen>(line)) return 0;
    if (contains<kUpperLeftOpen>(line)) return 1;
    if (contains<kLowerRightOpen>(line)) return 2;
    if (contains<kUpperRightOpen>(line)) return 3;
    return -1;
}

// A date's part: a whole number of at most `digits` digits from 1 to `max`, else 0.
unsigned date_part(std::string_view rest, std::size_t digits, unsigned max) {
    std::string_view value;
    if (!value_until(rest, "<", value) || value.empty() || value.size() > digits) return 0;
    unsigned number = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    return number <= max ? number : 0;
}

// 地図作成年月日's 年, 月 and 日 as an ISO date (1996-03 without a day); nothing without a year, or when
// a part is out of range. True
// when the sheet (or the file) ended before the date did.
bool read_made_on(ReadState& state, SheetDetail& sheet) {
    TaggedLine line;
    std::string_view rest;
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    while (next_line(state.lines, line)) {
        if (text_after<kYearOpen>(line, rest)) {
            year = date_part(rest, 4, 9999);
        } else if (text_after<kMonthOpen>(line, rest)) {
            month = date_part(rest, 2, 12);
        } else if (text_after<kDayOpen>(line, rest)) {
            day = date_part(rest, 2, 31);
        } else if (contains<kMadeOnClose>(line)) {
            // Old sheets give the year and month only: ISO 8601's shorter forms keep what they give.
            char text[40];
            if (year != 0 && month != 0 && day != 0) {
                std::snprintf(text, sizeof text, "%04u-%02u-%02u", year, month, day);
            } else if (year != 0 && month != 0) {
                std::snprintf(text, sizeof text, "%04u-%02u", year, month);
            } else if (year != 0) {
                std::snprintf(text, sizeof text, "%04u", year);
            }
            if (year != 0) sheet.set(SheetText::made_on, text);
            return false;
        } else if (contains<kSheetClose>(line)) {
            break;
        }
    }
    return true;
}

// The sheet texts only GIS outputs keep; true when the sheet ended within them.
bool read_sheet_detail_line(ReadState& state, const TaggedLine& line, SheetDetail& sheet) {
    std::string_view rest;
    std::string_view value;
    const auto take = [&](SheetText field) {
        if (name_value(line, rest, value)) set_text(sheet, field, value);
        return false;
    };
    if (text_after<kSheetKindOpen>(line, rest)) return take(SheetText::kind);
    if (text_after<kSheetClassOpen>(line, rest)) return take(SheetText::classification);
    if (text_after<kSheetMaterialOpen>(line, rest)) return take(SheetText::material);
    if (contains<kMadeOnOpen>(line)) return read_made_on(state, sheet);
    return false;
}

// A map sheet gives its map number to the parcels it lists, and records its scale, orientation and
// frame (with the GIS detail, its texts too, which the parcels it lists first take). A number or
// reference whose end is not on its line ends the sheet.
void read_map_sheet(ReadState& state) {
    TaggedLine line;
    std::string_view rest;
    std::string_view value;
    bool recorded = false;
    int corner = -1;            // the corner whose coordinates are being read
    unsigned corners_read = 0;  // one bit per corner with both coordinates
    unsigned coordinates = 0;   // of the current corner: 1 for X, 2 for Y
    const bool detail = state.options.gis_detail;
    if (detail) state.dataset.gis.sheets.emplace_back().map_no = field_view(state.current_map_no);
    const auto sheet_no = static_cast<std::uint32_t>(state.dataset.gis.sheets.size() - 1);
    while (next_line(state.lines, line)) {
        if (text_after<kMapNoOpen>(line, rest)) {
            if (!value_until(rest, kMapNoClose, value)) return;
            value = decoded(value);
            copy_text(state.current_map_no, value);
            copy_text(current_sheet(state, recorded).map_no, value);
            if (detail) state.dataset.gis.sheets[sheet_no].map_no = field_view(state.current_map_no);
        } else if (text_after<kParcelRef>(line, rest)) {
            // Up to the closing quote: <筆参照 idref="H1"></筆参照> names its parcel as the short form does.
            if (!value_until(rest, "\"", value)) return;
            const std::uint32_t position = state.parcel_index.find(parse_id_number(value));
            if (position != kNoRecord) {
                if (detail) ++state.dataset.gis.sheets[sheet_no].parcels;
                if (detail && state.dataset.gis.parcels[position].first_sheet == kNoSheet) {
                    state.dataset.gis.parcels[position].first_sheet = sheet_no;
                }
                copy_text(state.dataset.parcels[position].map_no, field_view(state.current_map_no));
                if (state.current_map_no[0] != '\0') {
                    add_sheet_listing(state.dataset, position, field_view(state.current_map_no));
                }
            }
        } else if (corner >= 0 && text_after<kXOpen>(line, rest)) {
            // A corner that cannot be read is a corner not given: the sheet has no frame.
            const double x = coordinate(line, rest, kXClose);
            if (!std::isnan(x)) {
                current_sheet(state, recorded).corner_x[corner] = x;
                coordinates |= 1;
            }
        } else if (corner >= 0 && text_after<kYOpen>(line, rest)) {
            const double y = coordinate(line, rest, kYClose);
            if (!std::isnan(y)) {
                current_sheet(state, recorded).corner_y[corner] = y;
                coordinates |= 2;
            }
        } else if (text_after<kScaleOpen>(line, rest)) {
            if (value_until(rest, kScaleClose, value)) {
                current_sheet(state, recorded).scale_denominator = parse_id_number(value);
                if (detail) state.dataset.gis.sheets[sheet_no].scale_denominator = parse_id_number(value);
            }
        } else if (text_after<kOrientationOpen>(line, rest)) {
            if (value_until(rest, kOrientationClose, value)) {
                current_sheet(state, recorded).orientation_unknown = value == "true";
            }
        } else if (const int opened = corner_opened(line); opened >= 0) {
            if (corner >= 0 && coordinates == 3) corners_read |= 1u << corner;
            corner = opened;
            coordinates = 0;
        } else if (contains<kSheetClose>(line)) {
            break;
        } else if (detail && read_sheet_detail_line(state, line, state.dataset.gis.sheets[sheet_no])) {
            break;
        }
    }
    if (corner >= 0 && coordinates == 3) corners_read |= 1u << corner;
    if (recorded && corners_read == 0xF) state.dataset.sheets.back().has_frame = true;
}

void read_sections(ReadState& state) {
    TaggedLine line;
    std::string_view rest;
    while (next_line(state.lines, line)) {
        note_root(line, state.root);
        if (contains<kSpatialOpen>(line)) {
            read_spatial_section(state);
        } else if (contains<kThematicOpen>(line)) {
            read_thematic_section(state);
        } else if (contains<kSheetOpen>(line)) {
            read_map_sheet(state);
        } else if (state.options.gis_detail && text_after<kGeodeticOpen>(line, rest)) {
            read_head_value(state.header.geodetic_kind, rest, kGeodeticClose);
        }
    }
}

// The direct positions of curves as points after the file's own, so that outlines reach them as
// they reach every other point.
void append_position_points(MapDataset& dataset) {
    for (const PlanePosition& position : dataset.gis.direct_positions) {
        dataset.points.push_back(MapPoint{0, position.x, position.y});
    }
    dataset.position_points = static_cast<std::uint32_t>(dataset.gis.direct_positions.size());
}

bool knows_nothing(const MapDataset& dataset, const MapHeader& header) {
    return dataset.points.empty() && dataset.curves.empty() && dataset.surfaces.empty() && dataset.parcels.empty() &&
           dataset.outside_parcels == 0 && header.map_name[0] == '\0' && header.municipality_name[0] == '\0' &&
           header.coord_system[0] == '\0';
}

// Reads the open line reader into the dataset and the header. `input_bytes` sizes the first arrays.
ReadStatus read_lines(LineReader& lines, std::int64_t input_bytes, MapDataset& dataset, MapHeader& header,
                      const ReadOptions& options, bool& cut_off) {
    try {
        reserve_for_input(dataset, input_bytes);
        RootSeen root;
        if (read_head(lines, header, root)) {
            ReadState state{root, lines, dataset, header, options, {}, {}, 0.0};
            // Parcels are numbered from 1 up in every known map file: one table, never copied.
            state.parcel_index.reserve_dense(dataset.parcels.capacity() + 1);
            read_sections(state);
        }
        append_position_points(dataset);
        if (!root.opened && knows_nothing(dataset, header)) return ReadStatus::not_map_xml;
        cut_off = root.opened && !root.closed;
        return ReadStatus::ok;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    release_dataset(dataset);
    return ReadStatus::no_memory;
}

ReadResult read_text_file(const std::string& text_path, MapDataset& dataset, MapHeader& header,
                          const ReadOptions& options) {
    try {
        LineReader lines;
        if (platform::is_directory(text_path) || !lines.open_file(text_path)) return {ReadStatus::not_found, {}};
        ReadResult result;
        result.status = read_lines(lines, platform::file_size(text_path), dataset, header, options, result.cut_off);
        return result;
    } catch (const std::bad_alloc&) {
        return {ReadStatus::no_memory, {}};
    }
}

ReadResult read_stream_input(const std::string& path, MapDataset& dataset, MapHeader& header,
                             const ReadOptions& options) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return {ReadStatus::not_found, {}};
    ReadResult result;
    try {
        StreamSource source(file);
        LineReader lines;
        lines.open_source(source);
        result.status = read_lines(lines, 0, dataset, header, options, result.cut_off);
        switch (source.verdict()) {
            case StreamVerdict::text:
                break;
            case StreamVerdict::binary:
                result = {ReadStatus::not_map_xml, {}};
                break;
            case StreamVerdict::archive:
                result = {ReadStatus::archive_not_file, {}};
                break;
            case StreamVerdict::too_long:
                result = {ReadStatus::stream_too_long, {}};
                break;
            case StreamVerdict::read_error:
                result = {ReadStatus::not_found, {}};
                break;
        }
    } catch (const std::bad_alloc&) {
        result = {ReadStatus::no_memory, {}};
    }
    std::fclose(file);
    if (result.status != ReadStatus::ok) release_dataset(dataset);
    return result;
}

// The entry named after the archive (sample.zip holds sample.xml), streamed out of the archive.
ReadResult read_zip_input(const std::string& input_path, MapDataset& dataset, MapHeader& header,
                          const ReadOptions& options) {
    try {
        const std::string_view name = platform::path_file_name(input_path);
        std::string entry_name(name.substr(0, name.size() - platform::path_extension(input_path).size()));
        entry_name += ".xml";
        ZipEntrySource entry;
        const ZipResult opened = entry.open(input_path, entry_name);
        return read_zip_entry(entry, opened, dataset, header, options);
    } catch (const std::bad_alloc&) {
        release_dataset(dataset);
        return {ReadStatus::no_memory, {}};
    }
}

}  // namespace

ReadResult read_zip_entry(ZipEntrySource& entry, const ZipResult& opened, MapDataset& dataset, MapHeader& header,
                          const ReadOptions& options) {
    try {
        if (opened.status == ZipStatus::no_entry) return {ReadStatus::not_found, {}};
        if (opened.status != ZipStatus::ok) return {ReadStatus::zip_failed, opened};
        LineReader lines;
        lines.open_source(entry);
        const auto size = entry.size();
        bool cut_off = false;
        const ReadStatus status = read_lines(lines, size > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(size),
                                             dataset, header, options, cut_off);
        // A damaged entry is found at its end, after its lines were read: nothing of it may be used,
        // and its damage, not what the damage made of its text, is the reason.
        if (status != ReadStatus::ok && status != ReadStatus::not_map_xml) return {status, {}, false};
        if (entry.result().status != ZipStatus::ok) {
            release_dataset(dataset);
            return {ReadStatus::zip_failed, entry.result()};
        }
        if (status != ReadStatus::ok) return {status, {}, false};
        return {ReadStatus::ok, {}, cut_off};
    } catch (const std::bad_alloc&) {
        release_dataset(dataset);
        return {ReadStatus::no_memory, {}};
    }
}

bool reads_as_archive(const std::string& path) {
    const std::string head = platform::file_head(path, 4);
    // A local file header, or the end record of an archive without entries.
    if (head == "PK\x03\x04" || head == "PK\x05\x06") return true;
    if (!equals_ignoring_ascii_case(platform::path_extension(path), kZipExtension)) return false;
    // A map file saved under .zip; anything else there is left to the archive reader to refuse.
    return !(head.starts_with("<") || head.starts_with("\xEF\xBB\xBF<"));
}

ReadResult read_map_xml(const std::string& input_path, MapDataset& dataset, MapHeader& header,
                        const ReadOptions& options) {
    if (!platform::path_exists(input_path)) return {ReadStatus::not_found, {}};
    if (!platform::is_directory(input_path) && !platform::is_regular_file(input_path)) {
        return read_stream_input(input_path, dataset, header, options);
    }
    if (reads_as_archive(input_path)) return read_zip_input(input_path, dataset, header, options);
    return read_text_file(input_path, dataset, header, options);
}

}  // namespace chizuvec
