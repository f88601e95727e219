// GeoJSON (RFC 7946): one FeatureCollection, one feature a line, streamed as the features come. No
// "crs" member: longitude and latitude on JGD2011 are what the format's default system stands for
// within its accuracy.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.hpp"
#include "gis/feature_writer.hpp"
#include "gis/gis_encoding.hpp"
#include "platform/platform.hpp"

namespace chizuvec {

void append_json_text(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            // Map files are UTF-8; what is not well-formed stands for U+FFFD, as the format asks.
            const Utf8Char ch = decode_utf8(text, i);
            if (ch.well_formed) {
                out.append(text, i, ch.length);
            } else {
                out += kReplacementUtf8;
            }
            i += ch.length;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

namespace {

constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

class GeoJsonWriter final : public FeatureWriter {
  public:
    explicit GeoJsonWriter(const std::string& path) : path_(path) {}
    ~GeoJsonWriter() override {
        if (out_ != nullptr && out_ != stdout) std::fclose(out_);
    }

    bool begin(const GisSchema& schema) override {
        schema_ = schema;
        for (const GisField& field : schema.fields) {
            std::string key;
            append_json_text(key, field.name);
            keys_.push_back(key + ':');
        }
        if (path_ == "-") {
            out_ = stdout;
            platform::write_bytes_unchanged(stdout);
        } else {
            out_ = std::fopen(path_.c_str(), "wb");
            if (out_ == nullptr) return fail("cannot create the file");
        }
        buffer_ = "{\"type\":\"FeatureCollection\",\"features\":[\n";
        return true;
    }

    bool write(const GisFeature& feature) override {
        if (failed_ || out_ == nullptr) return false;
        if (features_ != 0) buffer_ += ",\n";
        ++features_;
        buffer_ += "{\"type\":\"Feature\",\"properties\":{";
        for (std::size_t i = 0; i < schema_.fields.size(); ++i) {
            if (i != 0) buffer_ += ',';
            buffer_ += keys_[i];
            const GisValue& value = feature.values[i];
            if (value.null) {
                buffer_ += "null";
                continue;
            }
            switch (schema_.fields[i].type) {
                case GisFieldType::text:
                    append_json_text(buffer_, value.text);
                    break;
                case GisFieldType::real:
                    append_number(value.number, false);
                    break;
                case GisFieldType::integer: {
                    char text[16];
                    buffer_.append(text, std::to_chars(text, text + sizeof text, value.integer).ptr);
                    break;
                }
            }
        }
        buffer_ += "},\"geometry\":";
        append_geometry(feature);
        buffer_ += '}';
        return buffer_.size() < kFlushBytes || flush();
    }

    bool finish() override {
        if (failed_ || out_ == nullptr) return false;
        buffer_ += "\n]}\n";
        if (!flush()) return false;
        const bool ok = out_ == stdout ? std::fflush(out_) == 0 && std::ferror(out_) == 0 : std::fclose(out_) == 0;
        if (out_ != stdout) out_ = nullptr;
        return ok || fail("cannot write the file");
    }

    std::string error() const override { return error_; }

  private:
    bool fail(const char* what) {
        failed_ = true;
        if (error_.empty()) error_ = what;
        return false;
    }

    bool flush() {
        const bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), out_) == buffer_.size();
        buffer_.clear();
        return ok || fail("cannot write the file");
    }

    // Degrees with 9 decimals; metres and measures as short as they read back exactly.
    void append_number(double value, bool degrees) {
        if (!std::isfinite(value)) {
            buffer_ += "null";
            return;
        }
        char text[64];
        if (degrees && std::abs(value) < 1e9) {
            // Nanodegrees as an integer, the point put in by hand: what printing with nine decimals
            // gives for a value rounded to them, at a fraction of the cost.
            const long long nano = std::llround(value * 1e9);
            const unsigned long long magnitude = static_cast<unsigned long long>(nano < 0 ? -nano : nano);
            char* end = std::to_chars(text, text + sizeof text, magnitude / 1000000000ull).ptr;
            *end++ = '.';
            char digits[9];
            unsigned long long fraction = magnitude % 1000000000ull;
            for (int i = 8; i >= 0; --i, fraction /= 10) digits[i] = static_cast<char>('0' + fraction % 10);
            if (nano < 0) buffer_ += '-';
            buffer_.append(text, end);
            buffer_.append(digits, 9);
            return;
        }
        const auto result = degrees ? std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 9)
                                    : std::to_chars(text, text + sizeof text, value);
        buffer_.append(text, result.ptr);
        // A real field stays real for readers that guess types from the numbers: 200.0, not 200.
        if (std::string_view(text, result.ptr).find_first_of(".e") == std::string_view::npos) buffer_ += ".0";
    }

    void append_geometry(const GisFeature& feature) {
        if (feature.ring_ends.empty()) {
            buffer_ += "null";
            return;
        }
        const bool degrees = schema_.coordinates == GisCoordinates::geographic;
        buffer_ += "{\"type\":\"MultiPolygon\",\"coordinates\":[";
        std::uint32_t ring = 0;
        for (std::size_t p = 0; p < feature.polygon_ends.size(); ++p) {
            buffer_ += p == 0 ? "[" : ",[";
            for (bool first_ring = true; ring < feature.polygon_ends[p]; ++ring, first_ring = false) {
                buffer_ += first_ring ? "[" : ",[";
                const std::uint32_t begin = ring == 0 ? 0 : feature.ring_ends[ring - 1];
                for (std::uint32_t k = begin; k < feature.ring_ends[ring]; ++k) {
                    buffer_ += k == begin ? "[" : ",[";
                    append_number(feature.xy[2 * k], degrees);
                    buffer_ += ',';
                    append_number(feature.xy[2 * k + 1], degrees);
                    buffer_ += ']';
                }
                buffer_ += ']';
            }
            buffer_ += ']';
        }
        buffer_ += "]}";
    }

    std::string path_;
    std::FILE* out_ = nullptr;
    GisSchema schema_;
    std::vector<std::string> keys_;  // "name": of each field, escaped once
    std::string buffer_;
    std::size_t features_ = 0;
    bool failed_ = false;
    std::string error_;
};

}  // namespace

std::unique_ptr<FeatureWriter> make_geojson_writer(const std::string& path) {
    return std::make_unique<GeoJsonWriter>(path);
}

}  // namespace chizuvec
