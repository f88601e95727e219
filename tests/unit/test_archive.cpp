#include "test_archive.hpp"

#include <gtest/gtest.h>
#include <zip.h>

namespace chizuvec::test {

bool write_archive(const std::string& path, const std::string& entry_name, const std::string& data) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        ADD_FAILURE() << "zip_open " << error;
        return false;
    }
    zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
    const zip_int64_t index = source == nullptr ? -1 : zip_file_add(archive, entry_name.c_str(), source, 0);
    if (index < 0 || zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) != 0 ||
        zip_close(archive) != 0) {
        if (index < 0 && source != nullptr) zip_source_free(source);
        ADD_FAILURE() << "writing " << path << ": " << zip_strerror(archive);
        zip_discard(archive);
        return false;
    }
    return true;
}

}  // namespace chizuvec::test
