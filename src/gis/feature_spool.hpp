// The features of an output that must be ordered by place before the file is written (FlatGeobuf's
// index, GeoParquet's row groups): each encoded record goes as it comes into a temporary file beside
// the output, only its box, place and size kept in memory, and is read back in the Hilbert order of
// the boxes, many records at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
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
    // Adds a record with its feature's box; false when the file cannot be written.
    bool add(std::span<const std::uint8_t> record, const GisEnvelope& box);
    // Ends the writing: false when the file cannot be written or read back. `order` then holds the
    // records in the Hilbert order of their boxes over the extent, those without a box last.
    bool finish(std::vector<std::size_t>& order);
    // Reads the records `records` (in any order) into `out`, one after another in that order;
    // place[k] is where record records[k] begins. Nearby records share one read. False when the file
    // cannot be read.
    bool read(std::span<const std::size_t> records, std::vector<std::uint8_t>& out, std::vector<std::uint64_t>& place);
    // Removes the file (also done when the spool goes).
    void close();

    std::size_t size() const { return records_.size(); }
    const GisEnvelope& box(std::size_t record) const { return records_[record].box; }
    std::uint32_t record_size(std::size_t record) const { return records_[record].size; }
    const GisEnvelope& extent() const { return extent_; }

  private:
    struct Record {
        GisEnvelope box;
        std::uint64_t offset = 0;
        std::uint32_t size = 0;
    };
    platform::OutputFile file_;
    std::FILE* reader_ = nullptr;
    std::uint64_t bytes_ = 0;
    std::vector<Record> records_;
    GisEnvelope extent_;
    std::vector<std::size_t> by_offset_;
    std::vector<std::uint8_t> run_;
};

}  // namespace chizuvec
