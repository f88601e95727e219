// The features of an output that must be ordered by place before the file is written (FlatGeobuf's
// index, GeoParquet's row groups): each encoded record goes as it comes into a temporary file beside
// the output, and is read back in the Hilbert order of the boxes, many records at a time. The boxes
// go to the same file in blocks; memory keeps 8 bytes per record while writing (where it ends) and 8
// more for the order, so a whole country's parcels fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "gis/gis_encoding.hpp"
#include "platform/platform.hpp"

namespace chizuvec {

class FeatureSpool {
  public:
    FeatureSpool() = default;
    FeatureSpool(const FeatureSpool&) = delete;
    FeatureSpool& operator=(const FeatureSpool&) = delete;
    ~FeatureSpool() { close(); }

    // Makes the temporary file beside `output_path`; false when it cannot be made.
    bool open(const std::string& output_path);
    // Adds a record with its feature's box; false when the file cannot be written (or at 2^32 - 1
    // records, past what the order can number).
    bool add(std::span<const std::uint8_t> record, const GisEnvelope& box);
    // Ends the writing: false when the file cannot be written or read back. `order` then holds the
    // records in the Hilbert order of their boxes over the extent (the same boxes in the order they
    // came), those without a box last.
    bool finish(std::vector<std::size_t>& order);
    // The boxes of `records`, in that order, into `out`; false when the file cannot be read.
    bool boxes(std::span<const std::size_t> records, std::vector<GisEnvelope>& out);
    // Reads the records `records` (in any order) into `out`, one after another in that order;
    // place[k] is where record records[k] begins. Nearby records share one read. False when the file
    // cannot be read.
    bool read(std::span<const std::size_t> records, std::vector<std::uint8_t>& out, std::vector<std::uint64_t>& place);
    // Removes the file (also done when the spool goes).
    void close();

    std::size_t size() const { return ends_.size(); }
    std::uint32_t record_size(std::size_t record) const {
        return static_cast<std::uint32_t>(ends_[record] - record_start(record));
    }
    const GisEnvelope& extent() const { return extent_; }

  private:
    // Where the record begins among the records alone, and where in the file (past the box blocks
    // written before it).
    std::uint64_t record_start(std::size_t record) const { return record == 0 ? 0 : ends_[record - 1]; }
    std::uint64_t file_offset(std::size_t record) const;
    bool read_at(std::uint64_t offset, void* bytes, std::size_t size);
    // Calls visit(record, box) for every record in the order they came.
    template <class Visit>
    bool each_box(Visit visit);

    platform::OutputFile file_;
    std::FILE* reader_ = nullptr;
    std::deque<std::uint64_t> ends_;            // no copy of all of it as it grows
    std::vector<GisEnvelope> pending_;          // the boxes not yet in a block
    std::vector<std::uint64_t> block_offsets_;  // where each full block of boxes is in the file
    GisEnvelope extent_;
    std::vector<std::size_t> by_offset_;
    std::vector<std::uint8_t> run_;
    std::vector<GisEnvelope> block_;
};

}  // namespace chizuvec
