#include "gis/feature_spool.hpp"

#include <algorithm>
#include <limits>
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
// Boxes per block in the file: 256 KB of memory at most while writing.
constexpr std::size_t kBlockBoxes = 8192;
constexpr std::uint64_t kBlockBytes = kBlockBoxes * sizeof(GisEnvelope);
// The order packs a record's number under its Hilbert value into one 64-bit key.
constexpr std::size_t kMaxRecords = std::numeric_limits<std::uint32_t>::max();
static_assert(sizeof(std::size_t) == 8, "the order holds 64-bit keys");

}  // namespace

bool FeatureSpool::open(const std::string& output_path) {
    if (!platform::begin_output_file(output_path + ".spool", file_)) return false;
    std::setvbuf(file_.stream, nullptr, _IOFBF, kStreamBuffer);
    pending_.reserve(kBlockBoxes);
    return true;
}

std::uint64_t FeatureSpool::file_offset(std::size_t record) const {
    return record_start(record) + record / kBlockBoxes * kBlockBytes;
}

bool FeatureSpool::add(std::span<const std::uint8_t> record, const GisEnvelope& box) {
    if (ends_.size() >= kMaxRecords) return false;
    if (std::fwrite(record.data(), 1, record.size(), file_.stream) != record.size()) return false;
    ends_.push_back(record_start(ends_.size()) + record.size());
    extent_.add(box);
    pending_.push_back(box);
    if (pending_.size() == kBlockBoxes) {
        block_offsets_.push_back(ends_.back() + block_offsets_.size() * kBlockBytes);
        if (std::fwrite(pending_.data(), sizeof(GisEnvelope), kBlockBoxes, file_.stream) != kBlockBoxes) return false;
        pending_.clear();
    }
    return true;
}

bool FeatureSpool::read_at(std::uint64_t offset, void* bytes, std::size_t size) {
    return platform::seek_file(reader_, static_cast<std::int64_t>(offset)) &&
           std::fread(bytes, 1, size, reader_) == size;
}

template <class Visit>
bool FeatureSpool::each_box(Visit visit) {
    block_.resize(kBlockBoxes);
    std::size_t record = 0;
    for (const std::uint64_t offset : block_offsets_) {
        if (!read_at(offset, block_.data(), kBlockBytes)) return false;
        for (const GisEnvelope& box : block_) visit(record++, box);
    }
    for (const GisEnvelope& box : pending_) visit(record++, box);
    block_ = {};
    return true;
}

bool FeatureSpool::finish(std::vector<std::size_t>& order) {
    if (std::fflush(file_.stream) != 0) return false;
    reader_ = std::fopen(file_.temp_path.c_str(), "rb");
    if (reader_ == nullptr) return false;
    // Keys of boxed records from the front, unboxed records from the back; one sort of the front
    // gives the Hilbert order, ties in the order the records came.
    order.assign(ends_.size(), 0);
    std::size_t boxed = 0;
    std::size_t unboxed = 0;
    const bool read = each_box([&](std::size_t record, const GisEnvelope& box) {
        const std::uint64_t key = hilbert_key(box, extent_);
        if (key >> 32 != 0) {
            order[order.size() - ++unboxed] = record;
        } else {
            order[boxed++] = key << 32 | record;
        }
    });
    if (!read) return false;
    std::sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(boxed));
    for (std::size_t i = 0; i < boxed; ++i) order[i] &= 0xffffffffu;
    std::reverse(order.begin() + static_cast<std::ptrdiff_t>(boxed), order.end());
    return true;
}

bool FeatureSpool::boxes(std::span<const std::size_t> records, std::vector<GisEnvelope>& out) {
    out.assign(records.size(), GisEnvelope{});
    // Where each record goes in `out`: records not asked for stay at the end marker.
    std::vector<std::uint32_t> slot(ends_.size(), std::numeric_limits<std::uint32_t>::max());
    for (std::size_t k = 0; k < records.size(); ++k) slot[records[k]] = static_cast<std::uint32_t>(k);
    return each_box([&](std::size_t record, const GisEnvelope& box) {
        if (slot[record] != std::numeric_limits<std::uint32_t>::max()) out[slot[record]] = box;
    });
}

bool FeatureSpool::read(std::span<const std::size_t> records, std::vector<std::uint8_t>& out,
                        std::vector<std::uint64_t>& place) {
    std::uint64_t bytes = 0;
    place.resize(records.size());
    for (std::size_t k = 0; k < records.size(); ++k) {
        place[k] = bytes;
        bytes += record_size(records[k]);
    }
    out.resize(bytes);
    by_offset_.resize(records.size());
    std::iota(by_offset_.begin(), by_offset_.end(), std::size_t{0});
    std::sort(by_offset_.begin(), by_offset_.end(),
              [&](std::size_t a, std::size_t b) { return records[a] < records[b]; });
    for (std::size_t k = 0; k < by_offset_.size();) {
        const std::uint64_t from = file_offset(records[by_offset_[k]]);
        std::uint64_t to = from + record_size(records[by_offset_[k]]);
        std::size_t last = k + 1;
        while (last < by_offset_.size()) {
            const std::size_t next = records[by_offset_[last]];
            const std::uint64_t at = file_offset(next);
            if (at > to + kReadGap || at + record_size(next) - from > kMaxRun) break;
            to = std::max(to, at + record_size(next));
            ++last;
        }
        // Grown, never shrunk: each run is read over what the last one left, not over zeros.
        if (run_.size() < to - from) run_.resize(to - from);
        if (!read_at(from, run_.data(), to - from)) return false;
        for (; k < last; ++k) {
            const std::size_t r = records[by_offset_[k]];
            std::copy_n(run_.data() + (file_offset(r) - from), record_size(r), out.data() + place[by_offset_[k]]);
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
