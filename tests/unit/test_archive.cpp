#include "test_archive.hpp"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>

#include "platform/platform.hpp"
#include "test_support.hpp"

namespace chizuvec::test {

bool write_archive(const std::string& path, const std::string& entry_name, const std::string& data) {
    return write_archive(path, std::vector<ArchiveEntry>{{entry_name, data, false}});
}

bool write_archive(const std::string& path, const std::vector<ArchiveEntry>& entries) {
    constexpr time_t kEntryTime = 1600000000;
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        ADD_FAILURE() << "zip_open " << error;
        return false;
    }
    for (const ArchiveEntry& e : entries) {
        zip_int64_t index = -1;
        if (!e.name.empty() && e.name.back() == '/') {
            index = zip_dir_add(archive, e.name.substr(0, e.name.size() - 1).c_str(), 0);
        } else {
            zip_source_t* source = zip_source_buffer(archive, e.data.data(), e.data.size(), 0);
            index = source == nullptr ? -1 : zip_file_add(archive, e.name.c_str(), source, 0);
            if (index < 0 && source != nullptr) zip_source_free(source);
        }
        const auto i = static_cast<zip_uint64_t>(index);
        bool ok =
            index >= 0 &&
            zip_set_file_compression(archive, i, e.deflated ? ZIP_CM_DEFLATE : ZIP_CM_STORE, e.deflated ? 9 : 0) == 0 &&
            zip_file_set_mtime(archive, i, kEntryTime, 0) == 0;
        if (ok && e.password != nullptr) ok = zip_file_set_encryption(archive, i, ZIP_EM_AES_256, e.password) == 0;
        if (!ok) {
            ADD_FAILURE() << "writing " << e.name << " into " << path << ": " << zip_strerror(archive);
            zip_discard(archive);
            return false;
        }
    }
    if (zip_close(archive) != 0) {
        ADD_FAILURE() << "writing " << path << ": " << zip_strerror(archive);
        zip_discard(archive);
        return false;
    }
    return true;
}

std::string archive_bytes(const std::vector<ArchiveEntry>& entries) {
    TempDir dir;
    const std::string path = dir.file("a.zip");
    return write_archive(path, entries) ? read_file(path) : std::string();
}

std::string map_zip_bytes(const std::string& stem, const std::string& xml) {
    return archive_bytes({{stem + ".xml", xml, true}});
}

std::string search_list_bytes(const std::vector<SearchListRow>& rows, bool header) {
    std::string text = header ? "ファイル名,出力日時,地番区域,地番\r\n" : "";
    for (const SearchListRow& row : rows)
        text += row.file + ",2024/04/01 09:00:00," + row.address + "," + row.lot + "\r\n";
    return platform::convert_code_page(text, platform::kCodePageUtf8, platform::kCodePageShiftJis);
}

}  // namespace chizuvec::test
