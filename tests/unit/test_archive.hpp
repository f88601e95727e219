// Writing small archives for the tests, with the linked libzip.
#pragma once

#include <string>
#include <vector>

namespace chizuvec::test {

// An archive holding `data` as its one stored entry, `entry_name`; false (with a test failure) when
// libzip refuses.
bool write_archive(const std::string& path, const std::string& entry_name, const std::string& data);

struct ArchiveEntry {
    std::string name;  // a name ending in "/" is a folder
    std::string data;
    bool deflated = false;           // else stored
    const char* password = nullptr;  // AES-256 encryption when set
};

// An archive holding `entries` in this order, all with one fixed time; false (with a test failure)
// when libzip refuses.
bool write_archive(const std::string& path, const std::vector<ArchiveEntry>& entries);
// The bytes of such an archive ("" on failure).
std::string archive_bytes(const std::vector<ArchiveEntry>& entries);

// The bytes of a map file's own zip: `stem`.xml, deflated, holding `xml` ("" on failure).
std::string map_zip_bytes(const std::string& stem, const std::string& xml);

// A row of a municipality archive's search list.
struct SearchListRow {
    std::string file;     // inner zip file name
    std::string address;  // 地番区域 (UTF-8)
    std::string lot;      // 地番
};

// A search list as the published archives store it: Shift_JIS, CR LF, with a header row when asked.
std::string search_list_bytes(const std::vector<SearchListRow>& rows, bool header);

}  // namespace chizuvec::test
