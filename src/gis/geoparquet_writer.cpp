// The GeoParquet writer (GeoParquet 1.1 on Parquet). Rows go out in the Hilbert order of their
// boxes, in row groups of kRowGroupRows, so that each group covers a compact area and the
// statistics of the bbox columns let a reader skip the groups outside its window. That order needs
// every box first: features are encoded as they come into the spool (feature_spool.hpp), and finish
// reads them back a row group at a time.
// Each column chunk is one dictionary page (repeated texts) and data pages of about kPageBytes,
// compressed with zstd; the footer is Parquet's FileMetaData in Thrift's compact protocol.
#include <zstd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "gis/feature_spool.hpp"
#include "gis/feature_writer.hpp"
#include "gis/gis_encoding.hpp"
#include "gis/hilbert_rtree.hpp"
#include "gis/thrift_compact.hpp"
#include "platform/platform.hpp"

namespace chizuvec {

namespace {

constexpr std::size_t kRowGroupRows = 100000;
constexpr std::size_t kPageBytes = 1 << 20;
constexpr std::size_t kDictionaryBytes = 1 << 20;
constexpr int kZstdLevel = 3;
constexpr std::size_t kStreamBuffer = 1 << 20;
constexpr std::string_view kMagic = "PAR1";

// EPSG:6668 (JGD2011, geographic 2D) as PROJJSON, as PROJ gives it.
constexpr std::string_view kJgd2011Projjson =
    R"({"$schema":"https://proj.org/schemas/v0.5/projjson.schema.json","type":"GeographicCRS","name":"JGD2011",)"
    R"("datum":{"type":"GeodeticReferenceFrame","name":"Japanese Geodetic Datum 2011","ellipsoid":{"name":"GRS 1980",)"
    R"("semi_major_axis":6378137,"inverse_flattening":298.257222101}},"coordinate_system":{"subtype":"ellipsoidal",)"
    R"("axis":[{"name":"Geodetic latitude","abbreviation":"Lat","direction":"north","unit":"degree"},)"
    R"({"name":"Geodetic longitude","abbreviation":"Lon","direction":"east","unit":"degree"}]},)"
    R"("scope":"Horizontal component of 3D system.","area":"Japan - onshore and offshore.",)"
    R"("bbox":{"south_latitude":17.09,"west_longitude":122.38,"north_latitude":46.05,"east_longitude":157.65},)"
    R"("id":{"authority":"EPSG","code":6668}})";

// Parquet's numbers (parquet.thrift).
enum PhysicalType : std::int32_t { kInt32 = 1, kDouble = 5, kByteArray = 6 };
enum Repetition : std::int32_t { kRequired = 0, kOptional = 1 };
enum Encoding : std::int32_t { kPlain = 0, kRle = 3, kRleDictionary = 8 };
enum PageType : std::int32_t { kDataPage = 0, kDictionaryPage = 2 };
constexpr std::int32_t kConvertedUtf8 = 0;
constexpr std::int32_t kCodecZstd = 6;

// One leaf column of the file. Every leaf has one definition level: optional leaves, and the
// required coordinates inside the optional bbox group.
struct Column {
    std::string name;
    PhysicalType type = kByteArray;
    bool utf8 = false;
    bool in_bbox = false;
};

// A row group's values of one column: a definition level per row, the values of the defined rows.
// The arrays only grow, from column to column and group to group: `rows` and `count` say how much of
// them is this column's.
struct ColumnValues {
    std::vector<std::uint8_t> defined;
    std::vector<double> numbers;
    std::vector<std::int32_t> integers;
    std::vector<std::string_view> texts;
    std::size_t rows = 0;
    std::size_t count = 0;  // of the array of the column's type

    std::span<const std::uint8_t> levels() const { return {defined.data(), rows}; }
    std::span<const double> number_values() const { return {numbers.data(), std::min(count, numbers.size())}; }
    std::span<const std::int32_t> integer_values() const { return {integers.data(), std::min(count, integers.size())}; }
    std::span<const std::string_view> text_values() const { return {texts.data(), std::min(count, texts.size())}; }
};

// What the footer says of a column chunk.
struct ChunkMeta {
    std::vector<std::int32_t> encodings;
    std::int64_t values = 0;
    std::int64_t uncompressed = 0;
    std::int64_t compressed = 0;
    std::int64_t data_page_offset = 0;
    std::int64_t dictionary_page_offset = -1;
    std::int64_t null_count = 0;
    bool has_bounds = false;
    std::string min;
    std::string max;
};

struct RowGroupMeta {
    std::vector<ChunkMeta> chunks;
    std::int64_t rows = 0;
    std::int64_t offset = 0;
};

// Bytes kept from feature to feature and page to page that grow without zero-filling what is then
// written over: the records and pages are most of what the writer moves.
class ByteBuffer {
  public:
    // Room for at most n more bytes at the end; those written are kept by advance_to.
    std::uint8_t* room(std::size_t n) {
        if (capacity_ - size_ < n) grow(n);
        return bytes_.get() + size_;
    }
    void advance_to(const std::uint8_t* end) { size_ = static_cast<std::size_t>(end - bytes_.get()); }
    // n more bytes at the end, to be written.
    std::uint8_t* extend(std::size_t n) {
        std::uint8_t* const at = room(n);
        size_ += n;
        return at;
    }
    void clear() { size_ = 0; }
    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }

  private:
    void grow(std::size_t n) {
        const std::size_t capacity = std::max(size_ + n, 2 * capacity_);
        std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[capacity]);
        if (size_ != 0) std::memcpy(bytes.get(), bytes_.get(), size_);
        bytes_ = std::move(bytes);
        capacity_ = capacity;
    }

    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// At most 10 bytes.
std::uint8_t* store_varint(std::uint8_t* at, std::uint64_t v) {
    while (v >= 0x80) {
        *at++ = static_cast<std::uint8_t>(v | 0x80);
        v >>= 7;
    }
    *at++ = static_cast<std::uint8_t>(v);
    return at;
}

// Parquet's RLE / bit-packing hybrid of `values`, each `width` bits (1 to 32): runs of eight or more
// equal values as RLE runs, the rest bit-packed in groups of eight.
template <class Value>
void put_hybrid(ByteBuffer& out, std::span<const Value> values, int width) {
    const std::size_t n = values.size();
    const std::size_t value_bytes = (static_cast<std::size_t>(width) + 7) / 8;
    const auto run_at = [&](std::size_t i) {
        if constexpr (sizeof(Value) == 1) {
            // One-bit values are 0 or 1: a run ends at the first of the other.
            if (width == 1) {
                const void* const other = std::memchr(values.data() + i, values[i] == 0 ? 1 : 0, n - i);
                return other == nullptr
                           ? n - i
                           : static_cast<std::size_t>(static_cast<const Value*>(other) - values.data()) - i;
            }
        }
        std::size_t j = i;
        while (j < n && values[j] == values[i]) ++j;
        return j - i;
    };
    std::size_t i = 0;
    while (i < n) {
        const std::size_t run = run_at(i);
        if (run >= 8 || i + run == n) {
            std::uint8_t* at = store_varint(out.room(10 + value_bytes), std::uint64_t{run} << 1);
            for (std::size_t b = 0; b < value_bytes; ++b) *at++ = static_cast<std::uint8_t>(values[i] >> (8 * b));
            out.advance_to(at);
            i += run;
            continue;
        }
        const std::size_t start = i;
        std::size_t groups = 0;
        while (i < n && groups < 63 && (groups == 0 || run_at(i) < 8)) {
            i = std::min(n, i + 8);
            ++groups;
        }
        // Eight values of `width` bits fill `width` bytes.
        std::uint8_t* at =
            store_varint(out.room(1 + groups * static_cast<std::size_t>(width)), std::uint64_t{groups} << 1 | 1);
        std::uint64_t bits = 0;
        int filled = 0;
        for (std::size_t k = start; k < start + groups * 8; ++k) {
            bits |= std::uint64_t{k < n ? std::uint32_t{values[k]} : 0u} << filled;
            filled += width;
            while (filled >= 8) {
                *at++ = static_cast<std::uint8_t>(bits);
                bits >>= 8;
                filled -= 8;
            }
        }
        out.advance_to(at);
    }
}

// Texts compared byte by byte as string_view does, kept inline in the loops over a column's texts.
bool same_bytes(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}
bool bytes_before(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
    return order < 0 || (order == 0 && a.size() < b.size());
}

int bit_width(std::size_t max_value) {
    int width = 1;
    while (width < 32 && (max_value >> width) != 0) ++width;
    return width;
}

std::string number_text(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

class GeoParquetWriter final : public FeatureWriter {
  public:
    GeoParquetWriter(std::string path, std::size_t rows_per_group)
        : path_(std::move(path)), rows_per_group_(std::max<std::size_t>(1, rows_per_group)) {}
    ~GeoParquetWriter() override {
        if (out_ != nullptr) std::fclose(out_);
        if (zstd_ != nullptr) ZSTD_freeCCtx(zstd_);
    }
    GeoParquetWriter(const GeoParquetWriter&) = delete;
    GeoParquetWriter& operator=(const GeoParquetWriter&) = delete;

    bool begin(const GisSchema& schema) override {
        if (!error_.empty()) return false;
        coordinates_ = schema.coordinates;
        for (const GisField& field : schema.fields) {
            fields_.push_back(field.type);
            value_sizes_.push_back(field.type == GisFieldType::real ? 8 : field.type == GisFieldType::integer ? 4 : 0);
            switch (field.type) {
                case GisFieldType::text:
                    columns_.push_back({std::string(field.name), kByteArray, true, false});
                    break;
                case GisFieldType::real:
                    columns_.push_back({std::string(field.name), kDouble, false, false});
                    break;
                case GisFieldType::integer:
                    columns_.push_back({std::string(field.name), kInt32, false, false});
                    break;
            }
        }
        columns_.push_back({"geometry", kByteArray, false, false});
        for (const char* corner : {"xmin", "ymin", "xmax", "ymax"}) columns_.push_back({corner, kDouble, false, true});
        zstd_ = ZSTD_createCCtx();
        if (zstd_ == nullptr) return fail("out of memory");
        out_ = std::fopen(path_.c_str(), "wb");
        if (out_ == nullptr) return fail("the file cannot be created");
        if (!spool_.open(path_)) return fail("no temporary file can be made beside the output");
        std::setvbuf(out_, nullptr, _IOFBF, kStreamBuffer);
        began_ = true;
        return put(kMagic.data(), kMagic.size());
    }

    // The feature as a spool record: per field a flag byte (0 null) and the value (text: its u32
    // size and bytes; real: 8 bytes; integer: 4), then the geometry's u32 WKB size (0 null), its WKB
    // and its box (four doubles, the bbox columns).
    bool write(const GisFeature& feature) override {
        if (!error_.empty()) return false;
        if (!began_) return fail("a feature came before the file was begun");
        if (const std::string wrong = check_feature(fields_.size(), feature); !wrong.empty()) return fail(wrong);
        record_.clear();
        for (std::size_t i = 0; i < feature.values.size(); ++i) {
            const GisValue& value = feature.values[i];
            if (value.null) {
                *record_.extend(1) = 0;
                continue;
            }
            switch (fields_[i]) {
                case GisFieldType::text: {
                    std::uint8_t* const at = record_.extend(5 + value.text.size());
                    *at = 1;
                    store_bytes(store_u32(at + 1, static_cast<std::uint32_t>(value.text.size())), value.text);
                    break;
                }
                case GisFieldType::real: {
                    std::uint8_t* const at = record_.extend(9);
                    *at = 1;
                    store_f64(at + 1, value.number);
                    break;
                }
                case GisFieldType::integer: {
                    std::uint8_t* const at = record_.extend(5);
                    *at = 1;
                    store_u32(at + 1, static_cast<std::uint32_t>(value.integer));
                    break;
                }
            }
        }
        const GisEnvelope box = feature_envelope(feature);
        if (feature.ring_ends.empty()) {
            store_u32(record_.extend(4), 0);
        } else {
            const std::size_t wkb_size = wkb_multipolygon_size(feature);
            std::uint8_t* at = store_u32(record_.extend(4 + wkb_size + 32), static_cast<std::uint32_t>(wkb_size));
            at = store_wkb_multipolygon(at, feature);
            for (const double corner : {box.min_x, box.min_y, box.max_x, box.max_y}) at = store_f64(at, corner);
        }
        if (!spool_.add(std::span<const std::uint8_t>(record_.data(), record_.size()), box)) {
            return fail("the temporary file beside the output cannot be written (is the disk full?)");
        }
        return true;
    }

    bool finish() override {
        if (!error_.empty()) return false;
        if (!began_) return fail("the file was finished before it was begun");
        std::vector<std::size_t> order;
        if (!spool_.finish(order)) return fail("the temporary file beside the output cannot be read back");
        for (std::size_t first = 0; first < order.size(); first += rows_per_group_) {
            const std::size_t end = std::min(order.size(), first + rows_per_group_);
            if (!write_row_group(std::span(order).subspan(first, end - first))) return false;
        }
        spool_.close();
        const GisBytes footer = file_metadata();
        GisBytes tail;
        put_u32_le(tail, static_cast<std::uint32_t>(footer.size()));
        tail.insert(tail.end(), kMagic.begin(), kMagic.end());
        if (!put(footer.data(), footer.size()) || !put(tail.data(), tail.size())) return false;
        const bool closed = std::fclose(out_) == 0;
        out_ = nullptr;
        return closed || fail("the file cannot be written (is the disk full?)");
    }

    std::string error() const override { return error_; }

  private:
    bool fail(const std::string& what) {
        if (error_.empty()) error_ = "GeoParquet: " + what;
        return false;
    }
    bool put(const void* bytes, std::size_t size) {
        if (std::fwrite(bytes, 1, size, out_) != size) return fail("the file cannot be written (is the disk full?)");
        offset_ += static_cast<std::int64_t>(size);
        return true;
    }

    // The row group's records are read once; then each column in turn is gathered from them and
    // written, so that memory holds the records and one column's values, not every column's.
    bool write_row_group(std::span<const std::size_t> rows) {
        if (!spool_.read(rows, segment_, place_)) {
            return fail("the temporary file beside the output cannot be read back");
        }
        // Where each field of each record begins, from the record's start; the geometry's last.
        const std::size_t fields = fields_.size();
        starts_.resize(rows.size() * (fields + 1));
        for (std::size_t k = 0; k < rows.size(); ++k) {
            const std::uint8_t* const record = segment_.data() + place_[k];
            const std::uint8_t* p = record;
            std::uint32_t* const starts = starts_.data() + k * (fields + 1);
            for (std::size_t i = 0; i < fields; ++i) {
                starts[i] = static_cast<std::uint32_t>(p - record);
                if (*p++ == 0) continue;
                p += value_sizes_[i] != 0 ? value_sizes_[i] : 4 + read_u32(p);
            }
            starts[fields] = static_cast<std::uint32_t>(p - record);
        }
        RowGroupMeta group;
        group.rows = static_cast<std::int64_t>(rows.size());
        group.offset = offset_;
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            gather_column(c);
            ChunkMeta chunk;
            if (!write_chunk(columns_[c], column_, chunk)) return false;
            group.chunks.push_back(std::move(chunk));
        }
        row_groups_.push_back(std::move(group));
        return true;
    }

    // Column c of every record of the row group into column_.
    void gather_column(std::size_t c) {
        const std::size_t fields = fields_.size();
        if (c == fields) {
            gather(fields, column_.texts, [](const std::uint8_t* p, std::string_view& wkb) {
                const std::uint32_t wkb_size = read_u32(p);
                if (wkb_size == 0) return false;
                wkb = std::string_view(reinterpret_cast<const char*>(p + 4), wkb_size);
                return true;
            });
            return;
        }
        if (c > fields) {
            const std::size_t corner_at = 8 * (c - fields - 1);
            gather(fields, column_.numbers, [corner_at](const std::uint8_t* p, double& corner) {
                const std::uint32_t wkb_size = read_u32(p);
                if (wkb_size == 0) return false;
                corner = load_f64(p + 4 + wkb_size + corner_at);
                return true;
            });
            return;
        }
        switch (fields_[c]) {
            case GisFieldType::text:
                gather(c, column_.texts, [](const std::uint8_t* p, std::string_view& text) {
                    if (*p == 0) return false;
                    text = std::string_view(reinterpret_cast<const char*>(p + 5), read_u32(p + 1));
                    return true;
                });
                break;
            case GisFieldType::real:
                gather(c, column_.numbers, [](const std::uint8_t* p, double& number) {
                    if (*p == 0) return false;
                    number = load_f64(p + 1);
                    return true;
                });
                break;
            case GisFieldType::integer:
                gather(c, column_.integers, [](const std::uint8_t* p, std::int32_t& integer) {
                    if (*p == 0) return false;
                    integer = static_cast<std::int32_t>(read_u32(p + 1));
                    return true;
                });
                break;
        }
    }

    // Field `field` (the geometry's: fields_.size()) of every record: `read(p, value)` takes the
    // value from where the record's field begins and says whether the record has one.
    template <class Value, class Read>
    void gather(std::size_t field, std::vector<Value>& values, Read read) {
        const std::size_t rows = place_.size();
        const std::size_t stride = fields_.size() + 1;
        if (column_.defined.size() < rows) column_.defined.resize(rows);
        if (values.size() < rows) values.resize(rows);
        std::size_t count = 0;
        // One field a record, records far apart in memory: each is asked for some rows ahead, as no
        // prefetcher foresees a stride that changes from record to record.
        constexpr std::size_t kAhead = 16;
        for (std::size_t k = 0; k < rows; ++k) {
            if (k + kAhead < rows) {
                __builtin_prefetch(segment_.data() + place_[k + kAhead] + starts_[(k + kAhead) * stride + field]);
            }
            const bool defined = read(segment_.data() + place_[k] + starts_[k * stride + field], values[count]);
            column_.defined[k] = defined ? 1 : 0;
            count += defined ? 1 : 0;
        }
        column_.rows = rows;
        column_.count = count;
    }

    static std::uint32_t read_u32(const std::uint8_t* p) {
        return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    }
    static double load_f64(const std::uint8_t* p) {
        std::uint64_t v = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&v, p, 8);
        } else {
            for (int b = 0; b < 8; ++b) v |= std::uint64_t{p[b]} << (8 * b);
        }
        return std::bit_cast<double>(v);
    }

    // One column chunk: a dictionary page where texts repeat enough, then data pages.
    bool write_chunk(const Column& column, const ColumnValues& v, ChunkMeta& chunk) {
        const std::span<const std::uint8_t> defined = v.levels();
        chunk.values = static_cast<std::int64_t>(defined.size());
        chunk.null_count = chunk.values - static_cast<std::int64_t>(v.count);
        const std::span<const std::string_view> texts =
            column.type == kByteArray ? v.text_values() : std::span<const std::string_view>();

        // Dictionary: each distinct text's index, in order of first use.
        dictionary_.clear();
        indices_.clear();
        entries_.clear();
        bool use_dictionary = column.type == kByteArray && column.utf8 && !texts.empty();
        std::size_t dictionary_bytes = 0;
        if (use_dictionary) {
            // Entries and their bytes only grow: once past either bound, the rest need not be hashed.
            // Rows of one map file come together and share many texts: a text like the one before
            // takes its index without a look-up.
            indices_.reserve(texts.size());
            for (std::size_t k = 0; k < texts.size(); ++k) {
                const std::string_view text = texts[k];
                if (k != 0 && same_bytes(text, texts[k - 1])) {
                    indices_.push_back(indices_.back());
                    continue;
                }
                const auto [it, added] = dictionary_.try_emplace(text, static_cast<std::uint32_t>(entries_.size()));
                if (added) {
                    entries_.push_back(text);
                    dictionary_bytes += 4 + text.size();
                    if (entries_.size() * 2 > texts.size() || dictionary_bytes > kDictionaryBytes) break;
                }
                indices_.push_back(it->second);
            }
            use_dictionary = entries_.size() * 2 <= texts.size() && dictionary_bytes <= kDictionaryBytes;
        }
        // The bounds of the texts are those of their distinct values.
        bounds(column, v, use_dictionary ? std::span<const std::string_view>(entries_) : texts, chunk);
        if (use_dictionary) {
            page_.clear();
            std::uint8_t* at = page_.extend(dictionary_bytes);
            for (const std::string_view text : entries_) {
                at = store_bytes(store_u32(at, static_cast<std::uint32_t>(text.size())), text);
            }
            chunk.dictionary_page_offset = offset_;
            if (!write_page(kDictionaryPage, static_cast<std::int32_t>(entries_.size()), kPlain, chunk)) return false;
            chunk.encodings = {kPlain, kRle, kRleDictionary};
        } else {
            chunk.encodings = {kPlain, kRle};
        }
        chunk.data_page_offset = offset_;
        const int width = use_dictionary ? bit_width(entries_.size() - 1) : 0;

        std::size_t row = 0;
        std::size_t value = 0;
        while (row < defined.size()) {
            // The rows of this page: until its values pass kPageBytes.
            const std::size_t first_row = row;
            const std::size_t first_value = value;
            std::size_t bytes = 0;
            // Values of one size that all fit in this page need no count.
            const std::size_t fixed = column.type == kDouble ? 8 : column.type == kInt32 ? 4 : use_dictionary ? 1 : 0;
            if (fixed != 0 && (v.count - value) * fixed < kPageBytes) {
                bytes = (v.count - value) * fixed;
                row = defined.size();
                value = v.count;
            }
            while (row < defined.size() && bytes < kPageBytes) {
                if (defined[row] != 0) {
                    bytes += column.type == kDouble  ? 8
                             : column.type == kInt32 ? 4
                             : use_dictionary        ? 1
                                                     : 4 + texts[value].size();
                    ++value;
                }
                ++row;
            }
            const std::size_t values = value - first_value;
            // The definition levels, after their size.
            page_.clear();
            page_.extend(4);
            put_hybrid(page_, defined.subspan(first_row, row - first_row), 1);
            store_u32(page_.data(), static_cast<std::uint32_t>(page_.size() - 4));
            if (use_dictionary) {
                *page_.extend(1) = static_cast<std::uint8_t>(width);
                put_hybrid(page_, std::span<const std::uint32_t>(indices_).subspan(first_value, values), width);
            } else if (column.type == kDouble) {
                store_plain(page_.extend(bytes), v.number_values().subspan(first_value, values));
            } else if (column.type == kInt32) {
                store_plain(page_.extend(bytes), v.integer_values().subspan(first_value, values));
            } else {
                std::uint8_t* at = page_.extend(bytes);
                for (const std::string_view text : texts.subspan(first_value, values)) {
                    at = store_bytes(store_u32(at, static_cast<std::uint32_t>(text.size())), text);
                }
            }
            if (!write_page(kDataPage, static_cast<std::int32_t>(row - first_row),
                            use_dictionary ? kRleDictionary : kPlain, chunk)) {
                return false;
            }
        }
        return true;
    }

    // The column's smallest and largest value as Parquet orders them (texts byte by byte, numbers
    // and integers by value, NaN left out); none for the geometry, whose bytes have no useful order.
    static void bounds(const Column& column, const ColumnValues& v, std::span<const std::string_view> texts,
                       ChunkMeta& chunk) {
        if (column.type == kDouble) {
            bool any = false;
            double lo = 0;
            double hi = 0;
            for (const double d : v.number_values()) {
                if (d != d) continue;
                if (!any || d < lo) lo = d;
                if (!any || d > hi) hi = d;
                any = true;
            }
            if (!any) return;
            GisBytes b;
            put_f64_le(b, lo);
            chunk.min.assign(b.begin(), b.end());
            b.clear();
            put_f64_le(b, hi);
            chunk.max.assign(b.begin(), b.end());
            chunk.has_bounds = true;
        } else if (column.type == kInt32 && v.count != 0) {
            const std::span<const std::int32_t> integers = v.integer_values();
            const auto [lo, hi] = std::minmax_element(integers.begin(), integers.end());
            GisBytes b;
            put_u32_le(b, static_cast<std::uint32_t>(*lo));
            chunk.min.assign(b.begin(), b.end());
            b.clear();
            put_u32_le(b, static_cast<std::uint32_t>(*hi));
            chunk.max.assign(b.begin(), b.end());
            chunk.has_bounds = true;
        } else if (column.utf8 && !texts.empty()) {
            const auto [lo, hi] = std::minmax_element(texts.begin(), texts.end(), bytes_before);
            chunk.min = std::string(*lo);
            chunk.max = std::string(*hi);
            chunk.has_bounds = true;
        }
    }

    // Compresses page_ and writes it with its header.
    bool write_page(PageType type, std::int32_t count, Encoding encoding, ChunkMeta& chunk) {
        const std::size_t bound = ZSTD_compressBound(page_.size());
        std::uint8_t* const compressed = compressed_.room(bound);
        const std::size_t size = ZSTD_compressCCtx(zstd_, compressed, bound, page_.data(), page_.size(), kZstdLevel);
        if (ZSTD_isError(size) != 0) return fail("a page cannot be compressed");
        header_.clear();
        ThriftWriter t(header_);
        t.i32(1, type);
        t.i32(2, static_cast<std::int32_t>(page_.size()));
        t.i32(3, static_cast<std::int32_t>(size));
        if (type == kDataPage) {
            t.begin_struct(5);
            t.i32(1, count);
            t.i32(2, encoding);
            t.i32(3, kRle);
            t.i32(4, kRle);
            t.end_struct();
        } else {
            t.begin_struct(7);
            t.i32(1, count);
            t.i32(2, encoding);
            t.end_struct();
        }
        t.stop();
        chunk.uncompressed += static_cast<std::int64_t>(header_.size() + page_.size());
        chunk.compressed += static_cast<std::int64_t>(header_.size() + size);
        return put(header_.data(), header_.size()) && put(compressed, size);
    }

    std::string geo_metadata() const {
        std::string json = R"({"version":"1.1.0","primary_column":"geometry","columns":{"geometry":{)";
        json += R"("encoding":"WKB","geometry_types":)";
        json += spool_.size() == 0 ? "[]" : R"(["MultiPolygon"])";
        json += R"(,"crs":)";
        json += coordinates_ == GisCoordinates::geographic ? kJgd2011Projjson : "null";
        json += R"(,"orientation":"counterclockwise","edges":"planar")";
        if (const GisEnvelope& extent = spool_.extent(); !extent.empty()) {
            json += ",\"bbox\":[" + number_text(extent.min_x) + "," + number_text(extent.min_y) + "," +
                    number_text(extent.max_x) + "," + number_text(extent.max_y) + "]";
        }
        json += R"(,"covering":{"bbox":{"xmin":["bbox","xmin"],"ymin":["bbox","ymin"],)";
        json += R"("xmax":["bbox","xmax"],"ymax":["bbox","ymax"]}}}}})";
        return json;
    }

    GisBytes file_metadata() const {
        GisBytes out;
        ThriftWriter t(out);
        t.i32(1, 2);
        // The schema, depth first: the root, the attributes, the geometry, the bbox group and its four leaves.
        t.begin_list(2, ThriftWriter::kStruct, columns_.size() + 2);
        t.begin_element();
        t.binary(4, "schema");
        t.i32(5, static_cast<std::int32_t>(columns_.size() - 4 + 1));
        t.end_struct();
        for (const Column& column : columns_) {
            if (column.in_bbox && column.name == "xmin") {
                t.begin_element();
                t.i32(3, kOptional);
                t.binary(4, "bbox");
                t.i32(5, 4);
                t.end_struct();
            }
            t.begin_element();
            t.i32(1, column.type);
            t.i32(3, column.in_bbox ? kRequired : kOptional);
            t.binary(4, column.name);
            if (column.utf8) {
                t.i32(6, kConvertedUtf8);
                t.begin_struct(10);  // LogicalType: STRING
                t.begin_struct(1);
                t.end_struct();
                t.end_struct();
            }
            t.end_struct();
        }
        std::int64_t rows = 0;
        for (const RowGroupMeta& g : row_groups_) rows += g.rows;
        t.i64(3, rows);
        t.begin_list(4, ThriftWriter::kStruct, row_groups_.size());
        for (const RowGroupMeta& g : row_groups_) {
            t.begin_element();
            t.begin_list(1, ThriftWriter::kStruct, g.chunks.size());
            std::int64_t uncompressed = 0;
            std::int64_t compressed = 0;
            for (std::size_t c = 0; c < g.chunks.size(); ++c) {
                const ChunkMeta& chunk = g.chunks[c];
                const Column& column = columns_[c];
                uncompressed += chunk.uncompressed;
                compressed += chunk.compressed;
                t.begin_element();
                t.i64(2, chunk.dictionary_page_offset >= 0 ? chunk.dictionary_page_offset : chunk.data_page_offset);
                t.begin_struct(3);
                t.i32(1, column.type);
                t.begin_list(2, ThriftWriter::kI32, chunk.encodings.size());
                for (const std::int32_t e : chunk.encodings) t.element_i32(e);
                t.begin_list(3, ThriftWriter::kBinary, column.in_bbox ? 2 : 1);
                if (column.in_bbox) t.element_binary("bbox");
                t.element_binary(column.name);
                t.i32(4, kCodecZstd);
                t.i64(5, chunk.values);
                t.i64(6, chunk.uncompressed);
                t.i64(7, chunk.compressed);
                t.i64(9, chunk.data_page_offset);
                if (chunk.dictionary_page_offset >= 0) t.i64(11, chunk.dictionary_page_offset);
                t.begin_struct(12);  // Statistics
                t.i64(3, chunk.null_count);
                if (chunk.has_bounds) {
                    t.binary(5, chunk.max);
                    t.binary(6, chunk.min);
                }
                t.end_struct();
                t.end_struct();
                t.end_struct();
            }
            t.i64(2, uncompressed);
            t.i64(3, g.rows);
            t.i64(5, g.offset);
            t.i64(6, compressed);
            t.end_struct();
        }
        t.begin_list(5, ThriftWriter::kStruct, 1);
        t.begin_element();
        t.binary(1, "geo");
        t.binary(2, geo_metadata());
        t.end_struct();
        t.binary(6, "Chizuvec version " CHIZUVEC_VERSION);
        // Column orders: every leaf by its type's order, so readers trust min_value and max_value.
        t.begin_list(7, ThriftWriter::kStruct, columns_.size());
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            t.begin_element();
            t.begin_struct(1);
            t.end_struct();
            t.end_struct();
        }
        t.stop();
        return out;
    }

    std::string path_;
    std::size_t rows_per_group_;
    GisCoordinates coordinates_ = GisCoordinates::geographic;
    std::vector<GisFieldType> fields_;
    std::vector<std::uint32_t> value_sizes_;  // of each field's value in a record; 0 for a text's
    std::vector<Column> columns_;
    std::FILE* out_ = nullptr;
    std::int64_t offset_ = 0;
    FeatureSpool spool_;
    bool began_ = false;
    std::vector<RowGroupMeta> row_groups_;
    ZSTD_CCtx* zstd_ = nullptr;
    // Buffers reused from feature to feature and page to page.
    ByteBuffer record_;
    std::vector<std::uint8_t> segment_;
    std::vector<std::uint64_t> place_;
    std::vector<std::uint32_t> starts_;
    ColumnValues column_;
    std::unordered_map<std::string_view, std::uint32_t> dictionary_;
    std::vector<std::uint32_t> indices_;
    std::vector<std::string_view> entries_;
    ByteBuffer page_;
    ByteBuffer compressed_;
    GisBytes header_;
    std::string error_;
};

}  // namespace

std::unique_ptr<FeatureWriter> make_geoparquet_writer(const std::string& path) {
    return std::make_unique<GeoParquetWriter>(path, kRowGroupRows);
}

std::unique_ptr<FeatureWriter> make_geoparquet_writer(const std::string& path, std::size_t rows_per_group) {
    return std::make_unique<GeoParquetWriter>(path, rows_per_group);
}

}  // namespace chizuvec
