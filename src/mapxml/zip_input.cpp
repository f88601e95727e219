// Reads the map XML entry of a .zip input in place, through libzip's entry stream.
// libzip is called only through its table (zip_library.hpp), which may load it on first use.
#include "mapxml/zip_input.hpp"

#include <cstddef>
#include <new>
#include <string_view>

#include "common/ascii.hpp"
#include "mapxml/code_page_guess.hpp"
#include "mapxml/zip_library.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

// libzip reports some failures without setting a code; the caller must still see a failure.
int failure_code(int code, int fallback) { return code != ZIP_ER_OK ? code : fallback; }

ZipResult failure(int code) { return ZipResult{ZipStatus::failed, code, {}, {}}; }

enum class NameMatch { none, any_case, exact };

// Entry names flagged or guessed as UTF-8 are compared in the code page of file names; any other
// name is compared exactly as stored, since nothing says which code page wrote it.
NameMatch match_entry_name(const char* raw_name, std::string_view wanted, std::uint32_t ansi_code_page) {
    std::string converted;
    std::string_view name = raw_name;
    if (ansi_code_page != platform::kCodePageUtf8 &&
        guess_code_page(raw_name) == static_cast<int>(platform::kCodePageUtf8)) {
        converted = platform::convert_code_page(raw_name, platform::kCodePageUtf8, ansi_code_page);
        name = converted;
    }
    if (name == wanted) return NameMatch::exact;
    return equals_ignoring_ascii_case(name, wanted) ? NameMatch::any_case : NameMatch::none;
}

}  // namespace

ZipEntrySource::ZipEntrySource(const ZipLibrary& zip) : zip_(zip) {}
ZipEntrySource::ZipEntrySource() : zip_(zip_library()) {}
ZipEntrySource::~ZipEntrySource() { close(); }

void ZipEntrySource::close() {
    if (entry_ != nullptr) zip_.zip_fclose(entry_);
    entry_ = nullptr;
    // Read-only and unchanged, so closing only releases; discard if it still fails.
    if (archive_ != nullptr && zip_.zip_close(archive_) != 0) zip_.zip_discard(archive_);
    archive_ = nullptr;
}

ZipResult ZipEntrySource::open(const std::string& archive_path, const std::string& entry_name) {
    close();
    size_ = 0;
    total_ = 0;
    if (!zip_.usable()) {
        result_ = ZipResult{ZipStatus::library_missing, kZipLibraryMissing, zip_.file_name, zip_.error};
        return result_;
    }
    result_ = ZipResult{};
    int open_error = ZIP_ER_OK;
    archive_ = zip_.zip_open(archive_path.c_str(), ZIP_RDONLY, &open_error);
    if (archive_ == nullptr) return result_ = failure(failure_code(open_error, ZIP_ER_OPEN));

    // Of NAME.XML and name.xml both present, the exact spelling is the one meant.
    const std::uint32_t ansi_code_page = platform::ansi_code_page();
    const zip_int64_t count = zip_.zip_get_num_entries(archive_, 0);
    zip_int64_t found = -1;
    try {
        for (zip_int64_t i = 0; i < count; ++i) {
            const char* name = zip_.zip_get_name(archive_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            if (name == nullptr) continue;
            const NameMatch match = match_entry_name(name, entry_name, ansi_code_page);
            if (match == NameMatch::exact) {
                found = i;
                break;
            }
            if (match == NameMatch::any_case && found < 0) found = i;
        }
    } catch (const std::bad_alloc&) {
        return result_ = failure(ZIP_ER_MEMORY);
    }
    if (found < 0) {
        result_.status = ZipStatus::no_entry;
        return result_;
    }
    const auto index = static_cast<zip_uint64_t>(found);
    zip_stat_t stat;
    zip_.zip_stat_init(&stat);
    if (zip_.zip_stat_index(archive_, index, 0, &stat) != 0) {
        return result_ = failure(failure_code(zip_.zip_error_code_zip(zip_.zip_get_error(archive_)), ZIP_ER_INTERNAL));
    }
    if ((stat.valid & ZIP_STAT_SIZE) == 0) return result_ = failure(ZIP_ER_INCONS);
    entry_ = zip_.zip_fopen_index(archive_, index, 0);
    if (entry_ == nullptr) {
        return result_ = failure(failure_code(zip_.zip_error_code_zip(zip_.zip_get_error(archive_)), ZIP_ER_OPEN));
    }
    size_ = stat.size;
    return result_;
}

// Reading goes on to the end of the entry, so libzip gets to check the entry's CRC, and the byte
// count must equal the size the archive states.
std::int64_t ZipEntrySource::read(char* buffer, std::size_t size) {
    if (entry_ == nullptr || result_.status != ZipStatus::ok) return -1;
    const zip_int64_t n = zip_.zip_fread(entry_, buffer, size);
    if (n < 0) {
        result_ = failure(failure_code(zip_.zip_error_code_zip(zip_.zip_file_get_error(entry_)), ZIP_ER_READ));
        return -1;
    }
    total_ += static_cast<std::uint64_t>(n);
    if (total_ > size_ || (n == 0 && total_ != size_)) {
        result_ = failure(ZIP_ER_INCONS);
        return -1;
    }
    return n;
}

}  // namespace chizuvec
