// The GeoPackage writer: one SQLite database holding the feature table, the tables every
// GeoPackage has (reference systems, contents, geometry columns, extensions) and the R-tree spatial
// index. Everything is written in one transaction without a journal on disk or a sync per row; the
// file is the caller's temporary file, so a failure only has to stop, not undo.
#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "common/utc_time.hpp"
#include "gis/feature_writer.hpp"
#include "gis/gis_encoding.hpp"
#include "gis/hilbert_rtree.hpp"
#include "platform/platform.hpp"

namespace chizuvec {

namespace {

constexpr std::int32_t kApplicationId = 0x47504B47;  // "GPKG"
constexpr int kUserVersion = 10300;                  // version 1.3
constexpr std::int32_t kSrsJgd2011 = 6668;
constexpr std::int32_t kSrsUndefinedCartesian = -1;

constexpr const char* kJgd2011Wkt =
    "GEOGCS[\"JGD2011\",DATUM[\"Japanese_Geodetic_Datum_2011\",SPHEROID[\"GRS 1980\",6378137,298.257222101,"
    "AUTHORITY[\"EPSG\",\"7019\"]],AUTHORITY[\"EPSG\",\"1128\"]],PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\","
    "\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],AXIS[\"Latitude\",NORTH],"
    "AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"6668\"]]";

// The tables and rows every GeoPackage holds, with the reference systems the standard requires.
constexpr const char* kCoreTables = R"(
CREATE TABLE gpkg_spatial_ref_sys (
  srs_name TEXT NOT NULL, srs_id INTEGER NOT NULL PRIMARY KEY, organization TEXT NOT NULL,
  organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL, description TEXT);
INSERT INTO gpkg_spatial_ref_sys VALUES
  ('Undefined cartesian SRS', -1, 'NONE', -1, 'undefined', 'undefined cartesian coordinate reference system'),
  ('Undefined geographic SRS', 0, 'NONE', 0, 'undefined', 'undefined geographic coordinate reference system'),
  ('WGS 84 geodetic', 4326, 'EPSG', 4326, 'GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563,AUTHORITY["EPSG","7030"]],AUTHORITY["EPSG","6326"]],PRIMEM["Greenwich",0,AUTHORITY["EPSG","8901"]],UNIT["degree",0.0174532925199433,AUTHORITY["EPSG","9122"]],AXIS["Latitude",NORTH],AXIS["Longitude",EAST],AUTHORITY["EPSG","4326"]]', 'longitude/latitude coordinates in decimal degrees on the WGS 84 spheroid');
CREATE TABLE gpkg_contents (
  table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL, identifier TEXT UNIQUE,
  description TEXT DEFAULT '', last_change DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now')),
  min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE, srs_id INTEGER,
  CONSTRAINT fk_gc_r_srs_id FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys(srs_id));
CREATE TABLE gpkg_geometry_columns (
  table_name TEXT NOT NULL, column_name TEXT NOT NULL, geometry_type_name TEXT NOT NULL,
  srs_id INTEGER NOT NULL, z TINYINT NOT NULL, m TINYINT NOT NULL,
  CONSTRAINT pk_geom_cols PRIMARY KEY (table_name, column_name),
  CONSTRAINT uk_gc_table_name UNIQUE (table_name),
  CONSTRAINT fk_gc_tn FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name),
  CONSTRAINT fk_gc_srs FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys (srs_id));
CREATE TABLE gpkg_extensions (
  table_name TEXT, column_name TEXT, extension_name TEXT NOT NULL, definition TEXT NOT NULL,
  scope TEXT NOT NULL, CONSTRAINT ge_tce UNIQUE (table_name, column_name, extension_name));
)";

// Text between quote marks, a quote mark inside doubled: an SQL identifier with '"', a literal with '\''.
std::string enclosed(std::string_view text, char quote) {
    std::string out(1, quote);
    for (const char c : text) {
        out += c;
        if (c == quote) out += quote;
    }
    return out + quote;
}
std::string quoted(std::string_view name) { return enclosed(name, '"'); }

// A column's declared type. MEDIUMINT is GeoPackage's 32-bit integer (stored as SQLite INTEGER), which
// readers take for a 32-bit field, as FlatGeobuf's Int and Parquet's INT32 are.
std::string_view column_type(GisFieldType type) {
    switch (type) {
        case GisFieldType::text:
            return " TEXT";
        case GisFieldType::real:
            return " REAL";
        case GisFieldType::integer:
            return " MEDIUMINT";
    }
    return " TEXT";
}
std::string literal(std::string_view text) { return enclosed(text, '\''); }

// The triggers that keep the spatial index right when the table is edited later (the GIS program's
// own ST_ functions run them); created after the bulk load so the load itself fills the index.
std::string rtree_triggers(const std::string& table, const std::string& rtree) {
    const std::string t = quoted(table);
    const std::string r = quoted(rtree);
    const std::string name = rtree;  // the trigger names follow the index's
    const std::string values =
        "VALUES (NEW.fid, ST_MinX(NEW.geom), ST_MaxX(NEW.geom), ST_MinY(NEW.geom), "
        "ST_MaxY(NEW.geom)); END;\n";
    return "CREATE TRIGGER " + quoted(name + "_insert") + " AFTER INSERT ON " + t +
           " WHEN (NEW.geom NOT NULL AND NOT ST_IsEmpty(NEW.geom)) BEGIN INSERT OR REPLACE INTO " + r + " " + values +
           "CREATE TRIGGER " + quoted(name + "_update1") + " AFTER UPDATE OF geom ON " + t +
           " WHEN OLD.fid = NEW.fid AND (NEW.geom NOTNULL AND NOT ST_IsEmpty(NEW.geom)) BEGIN INSERT OR REPLACE "
           "INTO " +
           r + " " + values + "CREATE TRIGGER " + quoted(name + "_update2") + " AFTER UPDATE OF geom ON " + t +
           " WHEN OLD.fid = NEW.fid AND (NEW.geom ISNULL OR ST_IsEmpty(NEW.geom)) BEGIN DELETE FROM " + r +
           " WHERE id = OLD.fid; END;\n" + "CREATE TRIGGER " + quoted(name + "_update3") + " AFTER UPDATE ON " + t +
           " WHEN OLD.fid != NEW.fid AND (NEW.geom NOTNULL AND NOT ST_IsEmpty(NEW.geom)) BEGIN DELETE FROM " + r +
           " WHERE id = OLD.fid; INSERT OR REPLACE INTO " + r + " " + values + "CREATE TRIGGER " +
           quoted(name + "_update4") + " AFTER UPDATE ON " + t +
           " WHEN OLD.fid != NEW.fid AND (NEW.geom ISNULL OR ST_IsEmpty(NEW.geom)) BEGIN DELETE FROM " + r +
           " WHERE id IN (OLD.fid, NEW.fid); END;\n" + "CREATE TRIGGER " + quoted(name + "_delete") +
           " AFTER DELETE ON " + t + " WHEN OLD.geom NOT NULL BEGIN DELETE FROM " + r + " WHERE id = OLD.fid; END;\n";
}

// A feature's geometry as GeoPackage binary: the header with the srs id and the x/y envelope,
// then the MultiPolygon as little-endian WKB. Its size is known first, so the bytes go straight
// into place.
void encode_geometry(const GisFeature& feature, std::int32_t srs_id, const GisEnvelope& box, std::string& out) {
    constexpr std::size_t kHeader = 8 + 4 * 8;  // magic, version, flags, srs id; the envelope
    out.resize(kHeader + wkb_multipolygon_size(feature));
    std::uint8_t* at = reinterpret_cast<std::uint8_t*>(out.data());
    *at++ = 'G';
    *at++ = 'P';
    *at++ = 0;     // version 1
    *at++ = 0x03;  // little-endian, envelope [min x, max x, min y, max y]
    at = store_u32(at, static_cast<std::uint32_t>(srs_id));
    for (const double bound : {box.min_x, box.max_x, box.min_y, box.max_y}) at = store_f64(at, bound);
    store_wkb_multipolygon(at, feature);
}

// An R-tree cell of two dimensions: the id, then min x, max x, min y, max y as 32-bit floats, all
// big-endian.
constexpr std::size_t kRtreeCellBytes = 24;

void put_u16_be(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}
void put_u32_be(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}
void put_i64_be(std::uint8_t* at, sqlite3_int64 value) {
    const auto bits = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
}
void put_f32_be(std::uint8_t* at, float value) { put_u32_be(at, std::bit_cast<std::uint32_t>(value)); }

// The nearest float at or below, and at or above, so that the index's box holds the feature's;
// beyond the floats' range, their largest value or infinity.
float round_down(double value) {
    constexpr float kMax = std::numeric_limits<float>::max();
    if (value >= kMax) return kMax;
    if (value < -kMax) return -std::numeric_limits<float>::infinity();
    const auto f = static_cast<float>(value);
    return static_cast<double>(f) > value ? std::nextafter(f, -kMax) : f;
}
float round_up(double value) { return -round_down(-value); }

// Rows of features in one insert statement, and rows of the spatial index's leaf table.
constexpr std::size_t kRowsPerInsert = 32;
constexpr std::size_t kLeavesPerInsert = 64;

// `row` `count` times, comma-separated: the VALUES of a many-row insert.
std::string rows_of_parameters(std::size_t count, const std::string& row) {
    std::string out;
    out.reserve(count * (row.size() + 2));
    for (std::size_t r = 0; r < count; ++r) {
        if (r > 0) out += ", ";
        out += row;
    }
    return out;
}

// A parameter as last bound, kept so that a value equal to the one the same place held before is
// not bound again (a map file's parcels share most of their texts), and so that its bytes stay
// where the statement reads them.
struct BoundValue {
    enum class Kind : std::uint8_t { unbound, null, text, blob, real, integer };
    Kind kind = Kind::unbound;
    bool changed = false;  // since it was last bound
    std::string bytes;     // of a text or a blob
    double number = 0.0;
    std::int32_t integer = 0;

    void set_null() {
        if (kind == Kind::null) return;
        kind = Kind::null;
        changed = true;
    }
    void set_text(std::string_view text) {
        if (kind == Kind::text && std::string_view(bytes) == text) return;
        bytes.assign(text);
        kind = Kind::text;
        changed = true;
    }
    void set_real(double value) {
        if (kind == Kind::real && std::bit_cast<std::uint64_t>(number) == std::bit_cast<std::uint64_t>(value)) return;
        number = value;
        kind = Kind::real;
        changed = true;
    }
    void set_integer(std::int32_t value) {
        if (kind == Kind::integer && integer == value) return;
        integer = value;
        kind = Kind::integer;
        changed = true;
    }
    int bind(sqlite3_stmt* statement, int parameter) const {
        switch (kind) {
            case Kind::text:
                return sqlite3_bind_text64(statement, parameter, bytes.data(), bytes.size(), SQLITE_STATIC,
                                           SQLITE_UTF8);
            case Kind::blob:
                return sqlite3_bind_blob64(statement, parameter, bytes.data(), bytes.size(), SQLITE_STATIC);
            case Kind::real:
                return sqlite3_bind_double(statement, parameter, number);
            case Kind::integer:
                return sqlite3_bind_int(statement, parameter, integer);
            case Kind::unbound:
            case Kind::null:
                break;
        }
        return sqlite3_bind_null(statement, parameter);
    }
};

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;
struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

class GeoPackageWriter final : public FeatureWriter {
  public:
    explicit GeoPackageWriter(std::string path) : path_(std::move(path)) {}

    bool begin(const GisSchema& schema) override {
        if (!error_.empty()) return false;
        field_types_.clear();
        for (const GisField& field : schema.fields) field_types_.push_back(field.type);
        table_ = std::string(schema.layer_name);
        rtree_ = "rtree_" + table_ + "_geom";
        srs_id_ = schema.coordinates == GisCoordinates::geographic ? kSrsJgd2011 : kSrsUndefinedCartesian;
        // Created or emptied first: SQLite takes an empty file for a new database.
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        if (file == nullptr || std::fclose(file) != 0) return fail("the file cannot be created");
        sqlite3* db = nullptr;
        // One thread uses the connection: its mutexes would be taken and released on every call.
        const int opened = sqlite3_open_v2(platform::utf8_path(path_).c_str(), &db,
                                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        db_.reset(db);
        if (opened != SQLITE_OK) return fail_sqlite("the file cannot be opened");

        std::string columns;
        for (const GisField& field : schema.fields) {
            columns += ", " + quoted(field.name) + std::string(column_type(field.type));
        }
        const std::string srs = std::to_string(srs_id_);
        std::string setup = "PRAGMA page_size = 4096; PRAGMA application_id = " + std::to_string(kApplicationId) +
                            "; PRAGMA user_version = " + std::to_string(kUserVersion) +
                            "; PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF; PRAGMA temp_store = MEMORY;"
                            " PRAGMA locking_mode = EXCLUSIVE; PRAGMA cache_size = -16384; BEGIN;";
        setup += kCoreTables;
        if (srs_id_ == kSrsJgd2011) {
            setup += "INSERT INTO gpkg_spatial_ref_sys VALUES ('JGD2011', 6668, 'EPSG', 6668, " + literal(kJgd2011Wkt) +
                     ", 'longitude/latitude on the Japanese Geodetic Datum 2011');\n";
        }
        setup += "CREATE TABLE " + quoted(table_) +
                 " (fid INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, geom MULTIPOLYGON" + columns + ");\n";
        // last_change is the present moment unless a reproducible run gives its own: the one field
        // that differs between two runs.
        std::string last_change = "strftime('%Y-%m-%dT%H:%M:%fZ','now')";
        if (std::int64_t epoch = 0; platform::source_date_epoch(epoch)) {
            last_change = literal(utc_time_text(epoch) + ".000Z");
        }
        setup +=
            "INSERT INTO gpkg_contents (table_name, data_type, identifier, description, last_change, srs_id) "
            "VALUES (" +
            literal(table_) + ", 'features', " + literal(table_) + ", '', " + last_change + ", " + srs + ");\n";
        setup += "INSERT INTO gpkg_geometry_columns VALUES (" + literal(table_) + ", 'geom', 'MULTIPOLYGON', " + srs +
                 ", 0, 0);\n";
        setup += "INSERT INTO gpkg_extensions VALUES (" + literal(table_) +
                 ", 'geom', 'gpkg_rtree_index', 'http://www.geopackage.org/spec120/#extension_rtree', "
                 "'write-only');\n";
        setup += "CREATE VIRTUAL TABLE " + quoted(rtree_) + " USING rtree(id, minx, maxx, miny, maxy);\n";
        if (!exec(setup, "the tables cannot be created")) return false;
        // As many rows a statement as its parameters allow, up to a number past which a larger
        // statement saves little: each run reads and writes the table's AUTOINCREMENT counter and
        // opens and closes its cursors once, not once a row.
        columns_ = 1 + field_types_.size();
        const auto parameters = static_cast<std::size_t>(sqlite3_limit(db_.get(), SQLITE_LIMIT_VARIABLE_NUMBER, -1));
        rows_per_insert_ = std::clamp<std::size_t>(parameters / columns_, 1, kRowsPerInsert);
        rows_.assign(rows_per_insert_ * columns_, BoundValue{});
        pending_ = 0;
        stored_ = 0;
        return true;
    }

    bool write(const GisFeature& feature) override {
        if (!error_.empty()) return false;
        if (columns_ == 0) return fail("a feature came before the table was made");
        if (const std::string wrong = check_feature(field_types_.size(), feature); !wrong.empty()) return fail(wrong);
        BoundValue* row = rows_.data() + pending_ * columns_;
        const GisEnvelope box = feature_envelope(feature);
        if (box.empty()) {
            row[0].set_null();
        } else {
            encode_geometry(feature, srs_id_, box, row[0].bytes);
            row[0].kind = BoundValue::Kind::blob;
            row[0].changed = true;
        }
        for (std::size_t i = 0; i < feature.values.size(); ++i) {
            const GisValue& value = feature.values[i];
            BoundValue& slot = row[i + 1];
            // A text without characters behind it is bound as SQL's NULL, as SQLite takes a null pointer.
            if (value.null || (field_types_[i] == GisFieldType::text && value.text.data() == nullptr)) {
                slot.set_null();
                continue;
            }
            switch (field_types_[i]) {
                case GisFieldType::text:
                    slot.set_text(value.text);
                    break;
                case GisFieldType::real:
                    slot.set_real(value.number);
                    break;
                case GisFieldType::integer:
                    slot.set_integer(value.integer);
                    break;
            }
        }
        ++pending_;
        if (!box.empty()) {
            // The table numbers its rows 1, 2, ... as they come; each statement checks that it did.
            extent_.add(box);
            boxes_.push_back(box);
            box_ids_.push_back(static_cast<sqlite3_int64>(stored_ + pending_));
        }
        return pending_ < rows_per_insert_ || store_rows();
    }

    bool finish() override {
        if (!error_.empty()) return false;
        if (columns_ == 0) return fail("the file was finished before it was begun");
        if (!store_rest()) return false;
        many_rows_.reset();
        if (!fill_index()) return false;
        if (!extent_.empty()) {
            Statement update;
            if (!prepare("UPDATE gpkg_contents SET min_x = ?, min_y = ?, max_x = ?, max_y = ? WHERE table_name = ?",
                         update)) {
                return false;
            }
            sqlite3_bind_double(update.get(), 1, extent_.min_x);
            sqlite3_bind_double(update.get(), 2, extent_.min_y);
            sqlite3_bind_double(update.get(), 3, extent_.max_x);
            sqlite3_bind_double(update.get(), 4, extent_.max_y);
            sqlite3_bind_text(update.get(), 5, table_.c_str(), -1, SQLITE_STATIC);
            if (!step(update.get())) return false;
        }
        if (!exec(rtree_triggers(table_, rtree_) + "COMMIT;", "the file cannot be completed")) return false;
        if (sqlite3_close(db_.release()) != SQLITE_OK) return fail("the file cannot be closed");
        return true;
    }

    std::string error() const override { return error_; }

  private:
    // The spatial index, packed: SQLite's R-tree module inserts one box at a time, choosing a leaf
    // and splitting nodes, which took longer than everything else the export does. Its nodes are
    // written here instead, as the module stores them, full and in the Hilbert order of the boxes.
    bool fill_index() {
        if (boxes_.empty()) return true;
        const std::string node_table = quoted(rtree_ + "_node");
        // The node size the module chose when it made the (empty) root, from the page size.
        Statement root;
        if (!prepare("SELECT length(data) FROM " + node_table + " WHERE nodeno = 1", root)) return false;
        if (sqlite3_step(root.get()) != SQLITE_ROW) return fail_sqlite("the spatial index has no root");
        const auto node_bytes = static_cast<std::size_t>(sqlite3_column_int(root.get(), 0));
        root.reset();
        const std::size_t per_node = node_bytes >= 4 ? (node_bytes - 4) / kRtreeCellBytes : 0;
        if (per_node < 2) return fail("the spatial index has nodes too small to fill");

        // The node counts of each level, leaves first; the root, alone on the top level, is node 1
        // and each level below is numbered after the one above it.
        std::vector<std::size_t> counts{(boxes_.size() + per_node - 1) / per_node};
        while (counts.back() > 1) counts.push_back((counts.back() + per_node - 1) / per_node);
        std::vector<sqlite3_int64> first_node(counts.size());
        sqlite3_int64 next = 1;
        for (std::size_t level = counts.size(); level-- > 0;) {
            first_node[level] = next;
            next += static_cast<sqlite3_int64>(counts[level]);
        }

        Statement put_node, put_parent;
        if (!prepare("INSERT OR REPLACE INTO " + node_table + " (nodeno, data) VALUES (?, ?)", put_node) ||
            !prepare("INSERT INTO " + quoted(rtree_ + "_parent") + " (nodeno, parentnode) VALUES (?, ?)", put_parent)) {
            return false;
        }

        // Level 0 holds the features, in Hilbert order; each level above, the nodes below it.
        std::vector<std::size_t> order(boxes_.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        hilbert_order(boxes_, extent_, order);
        std::vector<sqlite3_int64> ids;
        std::vector<GisEnvelope> cells;
        ids.reserve(order.size());
        cells.reserve(order.size());
        for (const std::size_t i : order) {
            ids.push_back(box_ids_[i]);
            cells.push_back(boxes_[i]);
        }
        std::vector<sqlite3_int64> leaf_of(boxes_.size());  // by feature, in the order they came
        GisBytes node(node_bytes);
        for (std::size_t level = 0; level < counts.size(); ++level) {
            std::vector<sqlite3_int64> upper_ids;
            std::vector<GisEnvelope> upper_cells;
            for (std::size_t n = 0; n < counts[level]; ++n) {
                const sqlite3_int64 number = first_node[level] + static_cast<sqlite3_int64>(n);
                const std::size_t begin = n * per_node;
                const std::size_t end = std::min(begin + per_node, ids.size());
                std::fill(node.begin(), node.end(), std::uint8_t{0});
                if (number == 1) put_u16_be(node.data(), static_cast<std::uint16_t>(counts.size() - 1));
                put_u16_be(node.data() + 2, static_cast<std::uint16_t>(end - begin));
                GisEnvelope bounds;
                for (std::size_t c = begin; c < end; ++c) {
                    std::uint8_t* cell = node.data() + 4 + (c - begin) * kRtreeCellBytes;
                    put_i64_be(cell, ids[c]);
                    put_f32_be(cell + 8, round_down(cells[c].min_x));
                    put_f32_be(cell + 12, round_up(cells[c].max_x));
                    put_f32_be(cell + 16, round_down(cells[c].min_y));
                    put_f32_be(cell + 20, round_up(cells[c].max_y));
                    bounds.add(cells[c]);
                    if (level > 0) {
                        sqlite3_bind_int64(put_parent.get(), 1, ids[c]);
                        sqlite3_bind_int64(put_parent.get(), 2, number);
                        if (!step(put_parent.get())) return false;
                    }
                }
                if (level == 0) {
                    for (std::size_t c = begin; c < end; ++c) leaf_of[order[c]] = number;
                }
                sqlite3_bind_int64(put_node.get(), 1, number);
                sqlite3_bind_blob(put_node.get(), 2, node.data(), static_cast<int>(node.size()), SQLITE_STATIC);
                if (!step(put_node.get())) return false;
                upper_ids.push_back(number);
                upper_cells.push_back(bounds);
            }
            ids = std::move(upper_ids);
            cells = std::move(upper_cells);
        }
        return put_leaves(leaf_of);
    }

    // The leaf of each feature, by id, so each row goes on the end of the table: many rows a
    // statement, the last few one at a time.
    bool put_leaves(const std::vector<sqlite3_int64>& leaf_of) {
        const std::string insert = "INSERT INTO " + quoted(rtree_ + "_rowid") + " (rowid, nodeno) VALUES ";
        const std::size_t per_statement = std::clamp<std::size_t>(
            static_cast<std::size_t>(sqlite3_limit(db_.get(), SQLITE_LIMIT_VARIABLE_NUMBER, -1)) / 2, 1,
            kLeavesPerInsert);
        Statement many, one;
        std::size_t i = 0;
        if (box_ids_.size() >= per_statement) {
            if (!prepare(insert + rows_of_parameters(per_statement, "(?, ?)"), many)) return false;
            for (; box_ids_.size() - i >= per_statement; i += per_statement) {
                for (std::size_t r = 0; r < per_statement; ++r) {
                    const int parameter = 2 * static_cast<int>(r) + 1;
                    sqlite3_bind_int64(many.get(), parameter, box_ids_[i + r]);
                    sqlite3_bind_int64(many.get(), parameter + 1, leaf_of[i + r]);
                }
                if (!step(many.get())) return false;
            }
        }
        if (i < box_ids_.size() && !prepare(insert + "(?, ?)", one)) return false;
        for (; i < box_ids_.size(); ++i) {
            sqlite3_bind_int64(one.get(), 1, box_ids_[i]);
            sqlite3_bind_int64(one.get(), 2, leaf_of[i]);
            if (!step(one.get())) return false;
        }
        return true;
    }

    // The rows of features that fill a statement: only the values that differ from those the same
    // places held in the statement's last run are bound again.
    bool store_rows() {
        if (!many_rows_ && !prepare(feature_insert(rows_per_insert_), many_rows_)) return false;
        sqlite3_stmt* insert = many_rows_.get();
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            BoundValue& slot = rows_[i];
            if (!slot.changed) continue;
            if (slot.bind(insert, static_cast<int>(i) + 1) != SQLITE_OK)
                return fail_sqlite("a feature cannot be stored");
            slot.changed = false;
        }
        return run_insert(insert, rows_per_insert_);
    }

    // The rows too few to fill a statement, one at a time.
    bool store_rest() {
        if (pending_ == 0) return true;
        Statement one;
        if (!prepare(feature_insert(1), one)) return false;
        const std::size_t rows = pending_;
        for (std::size_t r = 0; r < rows; ++r) {
            for (std::size_t c = 0; c < columns_; ++c) {
                if (rows_[r * columns_ + c].bind(one.get(), static_cast<int>(c) + 1) != SQLITE_OK) {
                    return fail_sqlite("a feature cannot be stored");
                }
            }
            if (!run_insert(one.get(), 1)) return false;
        }
        return true;
    }

    // The bindings stay for the next run: run_insert does not clear them.
    bool run_insert(sqlite3_stmt* insert, std::size_t rows) {
        const int stepped = sqlite3_step(insert);
        sqlite3_reset(insert);
        if (stepped != SQLITE_DONE) return fail_sqlite("a feature cannot be stored");
        stored_ += rows;
        pending_ = pending_ > rows ? pending_ - rows : 0;
        if (sqlite3_last_insert_rowid(db_.get()) != static_cast<sqlite3_int64>(stored_)) {
            return fail("the features were not numbered in the order they came");
        }
        return true;
    }

    std::string feature_insert(std::size_t rows) const {
        std::string row = "(NULL";
        for (std::size_t c = 0; c < columns_; ++c) row += ", ?";
        return "INSERT INTO " + quoted(table_) + " VALUES " + rows_of_parameters(rows, row + ")");
    }

    bool fail(const std::string& what) {
        if (error_.empty()) error_ = "GeoPackage: " + what;
        return false;
    }
    bool fail_sqlite(const std::string& what) {
        return fail(what + " (" + (db_ ? sqlite3_errmsg(db_.get()) : "out of memory") + ")");
    }
    bool exec(const std::string& sql, const char* what) {
        return sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK || fail_sqlite(what);
    }
    bool prepare(const std::string& sql, Statement& statement) {
        sqlite3_stmt* raw = nullptr;
        const int prepared =
            sqlite3_prepare_v2(db_.get(), sql.c_str(), static_cast<int>(sql.size()) + 1, &raw, nullptr);
        statement.reset(raw);
        return prepared == SQLITE_OK || fail_sqlite("a statement cannot be prepared");
    }
    bool step(sqlite3_stmt* statement) {
        const int stepped = sqlite3_step(statement);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        return stepped == SQLITE_DONE || fail_sqlite("a feature cannot be stored");
    }

    std::string path_;
    std::vector<GisFieldType> field_types_;
    std::string table_;
    std::string rtree_;
    std::int32_t srs_id_ = kSrsJgd2011;
    Database db_;  // declared before the statements, so they are finalized first
    Statement many_rows_;
    std::size_t columns_ = 0;  // the parameters of a row; 0 until begun
    std::size_t rows_per_insert_ = 1;
    std::vector<BoundValue> rows_;  // the next statement's parameters, row after row
    std::size_t pending_ = 0;       // rows of rows_ not stored yet
    std::size_t stored_ = 0;        // rows in the table
    GisEnvelope extent_;
    std::vector<GisEnvelope> boxes_;  // of the features with a shape, for the index
    std::vector<sqlite3_int64> box_ids_;
    std::string error_;
};

}  // namespace

std::unique_ptr<FeatureWriter> make_geopackage_writer(const std::string& path) {
    return std::make_unique<GeoPackageWriter>(path);
}

}  // namespace chizuvec
