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
constexpr std::uint32_t kWkbPolygon = 3;
constexpr std::uint32_t kWkbMultiPolygon = 6;

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
// then the MultiPolygon as little-endian WKB.
void encode_geometry(const GisFeature& feature, std::int32_t srs_id, const GisEnvelope& box, GisBytes& out) {
    out.clear();
    put_u8(out, 'G');
    put_u8(out, 'P');
    put_u8(out, 0);     // version 1
    put_u8(out, 0x03);  // little-endian, envelope [min x, max x, min y, max y]
    put_u32_le(out, static_cast<std::uint32_t>(srs_id));
    put_f64_le(out, box.min_x);
    put_f64_le(out, box.max_x);
    put_f64_le(out, box.min_y);
    put_f64_le(out, box.max_y);
    put_u8(out, 1);
    put_u32_le(out, kWkbMultiPolygon);
    put_u32_le(out, static_cast<std::uint32_t>(feature.polygon_ends.size()));
    std::uint32_t ring = 0;
    for (const std::uint32_t polygon_end : feature.polygon_ends) {
        put_u8(out, 1);
        put_u32_le(out, kWkbPolygon);
        put_u32_le(out, polygon_end - ring);
        for (; ring < polygon_end; ++ring) {
            const std::uint32_t first = ring == 0 ? 0 : feature.ring_ends[ring - 1];
            const std::uint32_t end = feature.ring_ends[ring];
            put_u32_le(out, end - first);
            for (std::uint32_t p = first; p < end; ++p) {
                put_f64_le(out, feature.xy[2 * p]);
                put_f64_le(out, feature.xy[2 * p + 1]);
            }
        }
    }
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
        std::string placeholders;
        for (const GisField& field : schema.fields) {
            columns += ", " + quoted(field.name) + std::string(column_type(field.type));
            placeholders += ", ?";
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
        return prepare("INSERT INTO " + quoted(table_) + " VALUES (NULL, ?" + placeholders + ")", insert_);
    }

    bool write(const GisFeature& feature) override {
        if (!error_.empty()) return false;
        if (!insert_) return fail("a feature came before the table was made");
        if (const std::string wrong = check_feature(field_types_.size(), feature); !wrong.empty()) return fail(wrong);
        sqlite3_stmt* insert = insert_.get();
        const GisEnvelope box = feature_envelope(feature);
        int bound = SQLITE_OK;
        if (box.empty()) {
            bound = sqlite3_bind_null(insert, 1);
        } else {
            encode_geometry(feature, srs_id_, box, geometry_);
            bound = sqlite3_bind_blob(insert, 1, geometry_.data(), static_cast<int>(geometry_.size()), SQLITE_STATIC);
        }
        for (std::size_t i = 0; i < feature.values.size() && bound == SQLITE_OK; ++i) {
            const GisValue& value = feature.values[i];
            const int column = static_cast<int>(i) + 2;
            if (value.null) {
                bound = sqlite3_bind_null(insert, column);
                continue;
            }
            switch (field_types_[i]) {
                case GisFieldType::text:
                    bound = sqlite3_bind_text64(insert, column, value.text.data(), value.text.size(), SQLITE_STATIC,
                                                SQLITE_UTF8);
                    break;
                case GisFieldType::real:
                    bound = sqlite3_bind_double(insert, column, value.number);
                    break;
                case GisFieldType::integer:
                    bound = sqlite3_bind_int(insert, column, value.integer);
                    break;
            }
        }
        if (bound != SQLITE_OK) return fail_sqlite("a feature cannot be stored");
        if (!step(insert)) return false;
        if (box.empty()) return true;
        extent_.add(box);
        boxes_.push_back(box);
        box_ids_.push_back(sqlite3_last_insert_rowid(db_.get()));
        return true;
    }

    bool finish() override {
        if (!error_.empty()) return false;
        if (!insert_) return fail("the file was finished before it was begun");
        insert_.reset();
        if (!fill_index()) return false;
        std::string closing;
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

        Statement put_node, put_rowid, put_parent;
        if (!prepare("INSERT OR REPLACE INTO " + node_table + " (nodeno, data) VALUES (?, ?)", put_node) ||
            !prepare("INSERT INTO " + quoted(rtree_ + "_rowid") + " (rowid, nodeno) VALUES (?, ?)", put_rowid) ||
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
        // Features by id, so each goes on the end of the table.
        for (std::size_t i = 0; i < box_ids_.size(); ++i) {
            sqlite3_bind_int64(put_rowid.get(), 1, box_ids_[i]);
            sqlite3_bind_int64(put_rowid.get(), 2, leaf_of[i]);
            if (!step(put_rowid.get())) return false;
        }
        return true;
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
    Statement insert_;
    GisBytes geometry_;
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
