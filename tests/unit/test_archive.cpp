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
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        ADD_FAILURE() << "zip_open " << error;
        return false;
    }
    for (const ArchiveEntry& e : entries) {
        zip_source_t* source = zip_source_buffer(archive, e.data.data(), e.data.size(), 0);
        const zip_int64_t index = source == nullptr ? -1 : zip_file_add(archive, e.name.c_str(), source, 0);
        if (index < 0 || zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                                  e.deflated ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) != 0) {
            if (index < 0 && source != nullptr) zip_source_free(source);
            ADD_FAILURE() << "writing " << path << ": " << zip_strerror(archive);
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

std::string map_zip_bytes(const std::string& stem, const std::string& xml) {
    TempDir dir;
    const std::string path = dir.file(stem + ".zip");
    if (!write_archive(path, {{stem + ".xml", xml, true}})) return {};
    return read_file(path);
}

std::string search_list_bytes(const std::vector<SearchListRow>& rows, bool header) {
    std::string text = header ? "ファイル名,出力日時,地番区域,地番\r\n" : "";
    for (const SearchListRow& row : rows)
        text += row.file + ",2024/04/01 09:00:00," + row.address + "," + row.lot + "\r\n";
    return platform::convert_code_page(text, platform::kCodePageUtf8, platform::kCodePageShiftJis);
}

}  // namespace chizuvec::test
