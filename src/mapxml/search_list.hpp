// The search list of a municipality archive ("14103-0200-search-list.csv"): which inner zip holds
// each lot. Stored in Shift_JIS, comma-separated, one row per lot: inner zip file name, output date
// and time, 地番区域, 地番. A header row may or may not come first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace chizuvec {

// A list is read whole into memory; a larger one is not used (the map files are read instead).
inline constexpr std::size_t kMaxSearchListBytes = std::size_t{64} << 20;

class SearchList {
  public:
    // Parses the list as stored (Shift_JIS; UTF-8 when it begins with a UTF-8 byte order mark).
    // Fields may be quoted ("" for a quote inside). A row whose first field is not a .zip file name,
    // or that has fewer than four fields or no lot number, is skipped: a header row is one of them.
    // Memory and time are linear in the list's size.
    void parse(std::string_view stored);

    // The inner zip file names, in list order, of the rows whose lot number equals `key`, or whose
    // 地番区域 followed directly by the lot number does (as highlighted lots are matched).
    // Keys are compared in the normal form of typed lot numbers (common/lot_text.hpp).
    std::vector<std::string_view> files_of(std::string_view key) const;

    // A row that `key` matches: its inner zip, its 地番区域, and whether the lot number alone matched.
    struct Place {
        std::string_view file;
        std::string_view area;
        bool lot_only = false;
    };
    // The rows `key` matches, in list order.
    std::vector<Place> places_of(std::string_view key) const;

    std::size_t rows() const { return rows_; }
    std::size_t skipped_rows() const { return skipped_; }

  private:
    struct Key {
        std::uint32_t offset = 0;  // in keys_
        std::uint32_t length = 0;
        std::uint32_t file = 0;  // in files_
        std::uint32_t row = 0;   // list order among equal keys
        std::uint32_t area = 0;  // in areas_
        bool lot_only = false;   // the key is the lot number alone
    };
    std::string_view key_text(const Key& key) const { return std::string_view(keys_).substr(key.offset, key.length); }
    using FileNumbers = std::unordered_map<std::string, std::uint32_t>;
    void add_row(const std::vector<std::string>& fields, FileNumbers& file_numbers, FileNumbers& area_numbers);
    std::pair<std::vector<Key>::const_iterator, std::vector<Key>::const_iterator> matching(std::string_view key) const;

    std::string keys_;                // every key's text end to end
    std::vector<Key> index_;          // sorted by text, then row
    std::vector<std::string> files_;  // distinct file names, first seen first
    std::vector<std::string> areas_;  // distinct 地番区域, first seen first
    std::size_t rows_ = 0;
    std::size_t skipped_ = 0;
};

}  // namespace chizuvec
