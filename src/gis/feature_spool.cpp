#include "gis/feature_spool.hpp"

#include <algorithm>
#include <numeric>

#include "gis/hilbert_rtree.hpp"

namespace chizuvec {
namespace {

constexpr std::size_t kStreamBuffer = 1 << 20;
// A record and the next one in the file within kReadGap bytes share one read, up to kMaxRun bytes:
// features near each other on the map mostly sit near each other in their input, so this turns a
// read per record into a few per batch.
constexpr std::uint64_t kReadGap = 16u << 10;
constexpr std::uint64_t kMaxRun = 16u << 20;

}  // namespace

bool FeatureSpool::open(const std::string& output_path) {
    if (!platform::begin_output_file(output_path + ".spool", file_)) return false;
    std::setvbuf(file_.stream, nullptr, _IOFBF, kStreamBuffer);
    return true;
}

bool FeatureSpool::add(std::span<const std::uint8_t> record, const GisEnvelope& box) {
    if (std::fwrite(record.data(), 1, record.size(), file_.stream) != record.size()) return false;
    records_.push_back({box, bytes_, static_cast<std::uint32_t>(record.size())});
    bytes_ += record.size();
    extent_.add(box);
    return true;
}

bool FeatureSpool::finish(std::vector<std::size_t>& order) {
    if (std::fflush(file_.stream) != 0) return false;
    reader_ = std::fopen(file_.temp_path.c_str(), "rb");
    if (reader_ == nullptr) return false;
    order.resize(records_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::vector<GisEnvelope> boxes;
    boxes.reserve(records_.size());
    for (const Record& r : records_) boxes.push_back(r.box);
    hilbert_order(boxes, extent_, order);
    return true;
}

bool FeatureSpool::read(std::span<const std::size_t> records, std::vector<std::uint8_t>& out,
                        std::vector<std::uint64_t>& place) {
    std::uint64_t bytes = 0;
    place.resize(records.size());
    for (std::size_t k = 0; k < records.size(); ++k) {
        place[k] = bytes;
        bytes += records_[records[k]].size;
    }
    out.resize(bytes);
    by_offset_.resize(records.size());
    std::iota(by_offset_.begin(), by_offset_.end(), std::size_t{0});
    std::sort(by_offset_.begin(), by_offset_.end(),
              [&](std::size_t a, std::size_t b) { return records_[records[a]].offset < records_[records[b]].offset; });
    for (std::size_t k = 0; k < by_offset_.size();) {
        const std::uint64_t from = records_[records[by_offset_[k]]].offset;
        std::uint64_t to = from + records_[records[by_offset_[k]]].size;
        std::size_t last = k + 1;
        while (last < by_offset_.size()) {
            const Record& next = records_[records[by_offset_[last]]];
            if (next.offset > to + kReadGap || next.offset + next.size - from > kMaxRun) break;
            to = std::max(to, next.offset + next.size);
            ++last;
        }
        run_.resize(to - from);
        if (!platform::seek_file(reader_, static_cast<std::int64_t>(from)) ||
            std::fread(run_.data(), 1, run_.size(), reader_) != run_.size()) {
            return false;
        }
        for (; k < last; ++k) {
            const Record& r = records_[records[by_offset_[k]]];
            std::copy_n(run_.data() + (r.offset - from), r.size, out.data() + place[by_offset_[k]]);
        }
    }
    return true;
}

void FeatureSpool::close() {
    if (reader_ != nullptr) std::fclose(reader_);
    reader_ = nullptr;
    platform::abandon_output_file(file_);
}

}  // namespace chizuvec
