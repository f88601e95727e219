// The FlatGeobuf writer. The file is the magic bytes, the header, the packed Hilbert R-tree and the
// features in the tree's order; the header needs the feature count and the tree needs every bounding
// box, so features are encoded as they come into the spool (feature_spool.hpp) and copied out in
// Hilbert order by finish.
#include <flatbuffers/flatbuffers.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "feature_generated.h"
#include "gis/feature_spool.hpp"
#include "gis/feature_writer.hpp"
#include "gis/gis_encoding.hpp"
#include "gis/hilbert_rtree.hpp"
#include "header_generated.h"
#include "platform/platform.hpp"

namespace chizuvec {

namespace {

// "fgb", major version 3, "fgb", patch version 0.
constexpr std::uint8_t kMagic[8] = {0x66, 0x67, 0x62, 0x03, 0x66, 0x67, 0x62, 0x00};
constexpr std::uint16_t kIndexNodeSize = 16;
constexpr int kEpsgJgd2011 = 6668;
constexpr std::size_t kStreamBuffer = 1 << 20;
// The features are copied out a segment of the output at a time.
constexpr std::uint64_t kSegmentBytes = 16u << 20;

class FlatGeobufWriter final : public FeatureWriter {
  public:
    explicit FlatGeobufWriter(std::string path) : path_(std::move(path)) {}
    ~FlatGeobufWriter() override {
        if (out_ != nullptr) std::fclose(out_);
    }
    FlatGeobufWriter(const FlatGeobufWriter&) = delete;
    FlatGeobufWriter& operator=(const FlatGeobufWriter&) = delete;

    bool begin(const GisSchema& schema) override {
        if (!error_.empty()) return false;
        layer_name_ = std::string(schema.layer_name);
        coordinates_ = schema.coordinates;
        for (const GisField& field : schema.fields) fields_.push_back({std::string(field.name), field.type});
        out_ = std::fopen(path_.c_str(), "wb");
        if (out_ == nullptr) return fail("the file cannot be created");
        if (!spool_.open(path_)) return fail("no temporary file can be made beside the output");
        // A large buffer: features are small and many, and every write is a system call.
        std::setvbuf(out_, nullptr, _IOFBF, kStreamBuffer);
        began_ = true;
        return true;
    }

    bool write(const GisFeature& feature) override {
        if (!error_.empty()) return false;
        if (!began_) return fail("a feature came before the file was begun");
        if (const std::string wrong = check_feature(fields_.size(), feature); !wrong.empty()) return fail(wrong);
        encode(feature);
        if (!spool_.add({builder_.GetBufferPointer(), builder_.GetSize()}, feature_envelope(feature))) {
            return fail("the temporary file beside the output cannot be written (is the disk full?)");
        }
        return true;
    }

    bool finish() override {
        if (!error_.empty()) return false;
        if (!began_) return fail("the file was finished before it was begun");
        std::vector<std::size_t> order;
        if (!spool_.finish(order)) return fail("the temporary file beside the output cannot be read back");
        const bool indexed = spool_.size() != 0;
        if (!put(kMagic, sizeof kMagic) || !put_header(indexed)) return false;
        if (indexed) {
            std::vector<GisEnvelope> boxes;
            if (!spool_.boxes(order, boxes)) return fail("the temporary file beside the output cannot be read back");
            std::vector<std::uint64_t> offsets(order.size());
            std::uint64_t offset = 0;
            for (std::size_t i = 0; i < order.size(); ++i) {
                offsets[i] = offset;
                offset += spool_.record_size(order[i]);
            }
            const GisBytes tree = packed_rtree(boxes, offsets, kIndexNodeSize);
            if (!put(tree.data(), tree.size())) return false;
        }
        if (!copy_in_order(order)) return false;
        spool_.close();
        const bool closed = std::fclose(out_) == 0;
        out_ = nullptr;
        return closed || fail("the file cannot be written (is the disk full?)");
    }

    std::string error() const override { return error_; }

  private:
    bool fail(const std::string& what) {
        if (error_.empty()) error_ = "FlatGeobuf: " + what;
        return false;
    }
    bool put(const void* bytes, std::size_t size) {
        return std::fwrite(bytes, 1, size, out_) == size || fail("the file cannot be written (is the disk full?)");
    }
    // Writes the spooled features in `order`, memory held to about a segment.
    bool copy_in_order(const std::vector<std::size_t>& order) {
        std::vector<std::uint8_t> segment;
        std::vector<std::uint64_t> place;
        for (std::size_t first = 0; first < order.size();) {
            std::size_t end = first;
            std::uint64_t bytes = 0;
            while (end < order.size() && (end == first || bytes + spool_.record_size(order[end]) <= kSegmentBytes)) {
                bytes += spool_.record_size(order[end++]);
            }
            if (!spool_.read(std::span(order).subspan(first, end - first), segment, place)) {
                return fail("the temporary file beside the output cannot be read back");
            }
            if (!put(segment.data(), segment.size())) return false;
            first = end;
        }
        return true;
    }

    // The feature as a size-prefixed FlatBuffer in builder_.
    void encode(const GisFeature& feature) {
        builder_.Clear();
        properties_.clear();
        for (std::size_t i = 0; i < feature.values.size(); ++i) {
            const GisValue& value = feature.values[i];
            if (value.null) continue;
            put_u16_le(properties_, static_cast<std::uint16_t>(i));
            switch (fields_[i].type) {
                case GisFieldType::text:
                    put_u32_le(properties_, static_cast<std::uint32_t>(value.text.size()));
                    properties_.insert(properties_.end(), value.text.begin(), value.text.end());
                    break;
                case GisFieldType::real:
                    put_f64_le(properties_, value.number);
                    break;
                case GisFieldType::integer:
                    put_u32_le(properties_, static_cast<std::uint32_t>(value.integer));
                    break;
            }
        }
        flatbuffers::Offset<FlatGeobuf::Geometry> geometry = 0;
        if (!feature.ring_ends.empty()) {
            std::vector<flatbuffers::Offset<FlatGeobuf::Geometry>> parts;
            std::uint32_t ring = 0;
            for (const std::uint32_t polygon_end : feature.polygon_ends) {
                const std::uint32_t first_point = ring == 0 ? 0 : feature.ring_ends[ring - 1];
                const std::uint32_t end_point = feature.ring_ends[polygon_end - 1];
                flatbuffers::Offset<flatbuffers::Vector<std::uint32_t>> ends = 0;
                if (polygon_end - ring > 1) {
                    ring_ends_.clear();
                    for (std::uint32_t r = ring; r < polygon_end; ++r) {
                        ring_ends_.push_back(feature.ring_ends[r] - first_point);
                    }
                    ends = builder_.CreateVector(ring_ends_);
                }
                const auto xy = builder_.CreateVector(feature.xy.data() + 2 * std::size_t{first_point},
                                                      2 * std::size_t{end_point - first_point});
                parts.push_back(
                    FlatGeobuf::CreateGeometry(builder_, ends, xy, 0, 0, 0, 0, FlatGeobuf::GeometryType::Polygon));
                ring = polygon_end;
            }
            geometry = FlatGeobuf::CreateGeometry(builder_, 0, 0, 0, 0, 0, 0, FlatGeobuf::GeometryType::MultiPolygon,
                                                  builder_.CreateVector(parts));
        }
        const auto properties = properties_.empty() ? 0 : builder_.CreateVector(properties_);
        builder_.FinishSizePrefixed(FlatGeobuf::CreateFeature(builder_, geometry, properties));
    }

    bool put_header(bool indexed) {
        flatbuffers::FlatBufferBuilder b;
        std::vector<flatbuffers::Offset<FlatGeobuf::Column>> columns;
        for (const Field& field : fields_) {
            FlatGeobuf::ColumnType type = FlatGeobuf::ColumnType::String;
            switch (field.type) {
                case GisFieldType::text:
                    break;
                case GisFieldType::real:
                    type = FlatGeobuf::ColumnType::Double;
                    break;
                case GisFieldType::integer:
                    type = FlatGeobuf::ColumnType::Int;
                    break;
            }
            columns.push_back(FlatGeobuf::CreateColumn(b, b.CreateString(field.name), type));
        }
        flatbuffers::Offset<flatbuffers::Vector<double>> envelope = 0;
        if (const GisEnvelope& extent = spool_.extent(); !extent.empty()) {
            const double bounds[4] = {extent.min_x, extent.min_y, extent.max_x, extent.max_y};
            envelope = b.CreateVector(bounds, 4);
        }
        flatbuffers::Offset<FlatGeobuf::Crs> crs = 0;
        if (coordinates_ == GisCoordinates::geographic)
            crs = FlatGeobuf::CreateCrs(b, b.CreateString("EPSG"), kEpsgJgd2011);
        const auto name = b.CreateString(layer_name_);
        const auto column_vector = b.CreateVector(columns);
        FlatGeobuf::HeaderBuilder header(b);
        header.add_name(name);
        if (!envelope.IsNull()) header.add_envelope(envelope);
        header.add_geometry_type(FlatGeobuf::GeometryType::MultiPolygon);
        header.add_columns(column_vector);
        header.add_features_count(spool_.size());
        // The node size is written even where it equals the default: 0 means no index.
        b.ForceDefaults(true);
        header.add_index_node_size(indexed ? kIndexNodeSize : 0);
        b.ForceDefaults(false);
        if (!crs.IsNull()) header.add_crs(crs);
        b.FinishSizePrefixed(header.Finish());
        return put(b.GetBufferPointer(), b.GetSize());
    }

    struct Field {
        std::string name;
        GisFieldType type;
    };

    std::string path_;
    std::string layer_name_;
    GisCoordinates coordinates_ = GisCoordinates::geographic;
    std::vector<Field> fields_;
    std::FILE* out_ = nullptr;
    FeatureSpool spool_;
    bool began_ = false;
    flatbuffers::FlatBufferBuilder builder_{4096};
    GisBytes properties_;
    std::vector<std::uint32_t> ring_ends_;
    std::string error_;
};

}  // namespace

std::unique_ptr<FeatureWriter> make_flatgeobuf_writer(const std::string& path) {
    return std::make_unique<FlatGeobufWriter>(path);
}

}  // namespace chizuvec
