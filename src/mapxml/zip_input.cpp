// Reads the map XML entry of a .zip input in place, through libzip's entry stream; also the entry of
// a zip inside a zip, without unpacking it to disk.
// libzip is called only through its table (zip_library.hpp), which may load it on first use.
#include "mapxml/zip_input.hpp"

#include <cstddef>
#include <memory>
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
ZipResult entry_failure(int code) {
    ZipResult result = failure(code);
    result.in_entry = true;
    return result;
}

// The name an entry is compared by. Names flagged or guessed as UTF-8 are compared in the code page
// of file names; any other name exactly as stored, since nothing says which code page wrote it.
std::string comparable_name(const char* raw_name, std::uint32_t ansi_code_page) {
    if (ansi_code_page != platform::kCodePageUtf8 &&
        guess_code_page(raw_name) == static_cast<int>(platform::kCodePageUtf8)) {
        return platform::convert_code_page(raw_name, platform::kCodePageUtf8, ansi_code_page);
    }
    return raw_name;
}

ZipResult library_missing(const ZipLibrary& zip) {
    return ZipResult{ZipStatus::library_missing, kZipLibraryMissing, zip.file_name, zip.error};
}

int archive_error(const ZipLibrary& zip, zip_t* archive, int fallback) {
    return failure_code(zip.zip_error_code_zip(zip.zip_get_error(archive)), fallback);
}

enum class NameMatch { none, any_case, exact };

NameMatch match_entry_name(const char* raw_name, std::string_view wanted, std::uint32_t ansi_code_page) {
    const std::string name = comparable_name(raw_name, ansi_code_page);
    if (name == wanted) return NameMatch::exact;
    return equals_ignoring_ascii_case(name, wanted) ? NameMatch::any_case : NameMatch::none;
}

}  // namespace

ZipResult list_zip_entries(const std::string& path, std::vector<ZipEntryName>& entries) {
    entries.clear();
    const ZipLibrary& zip = zip_library();
    if (!zip.usable()) return library_missing(zip);
    int open_error = ZIP_ER_OK;
    zip_t* archive = zip.zip_open(path.c_str(), ZIP_RDONLY, &open_error);
    if (archive == nullptr) return failure(failure_code(open_error, ZIP_ER_OPEN));
    ZipResult result;
    try {
        const std::uint32_t ansi_code_page = platform::ansi_code_page();
        const zip_int64_t count = zip.zip_get_num_entries(archive, 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            const auto index = static_cast<zip_uint64_t>(i);
            const char* name = zip.zip_get_name(archive, index, ZIP_FL_ENC_RAW);
            if (name != nullptr) entries.push_back(ZipEntryName{index, comparable_name(name, ansi_code_page)});
        }
    } catch (const std::bad_alloc&) {
        entries.clear();
        result = failure(ZIP_ER_MEMORY);
    }
    if (zip.zip_close(archive) != 0) zip.zip_discard(archive);
    return result;
}

ZipEntrySource::ZipEntrySource(const ZipLibrary& zip) : zip_(zip) {}
ZipEntrySource::ZipEntrySource() : zip_(zip_library()) {}
ZipEntrySource::~ZipEntrySource() { close(); }

void ZipEntrySource::close_entry() {
    if (entry_ != nullptr) zip_.zip_fclose(entry_);
    entry_ = nullptr;
    // Read-only and unchanged, so closing only releases; discard if it still fails. The inner
    // archive reads from the outer one, so it goes first.
    if (inner_ != nullptr && zip_.zip_close(inner_) != 0) zip_.zip_discard(inner_);
    inner_ = nullptr;
    inner_bytes_.reset();
}

void ZipEntrySource::close() {
    close_entry();
    if (archive_ != nullptr && zip_.zip_close(archive_) != 0) zip_.zip_discard(archive_);
    archive_ = nullptr;
    archive_path_.clear();
}

bool ZipEntrySource::open_archive(const std::string& archive_path) {
    // The archive of the last entry read stays open for the next one, also after that entry failed
    // (an inner zip without its map file, a damaged entry): its directory is read once, not once per
    // inner file, so many failing entries cost no more than many good ones.
    const bool reuse = archive_ != nullptr && archive_path == archive_path_;
    close_entry();
    size_ = 0;
    total_ = 0;
    if (reuse) {
        result_ = ZipResult{};
        return true;
    }
    close();
    if (!zip_.usable()) {
        result_ = library_missing(zip_);
        return false;
    }
    result_ = ZipResult{};
    int open_error = ZIP_ER_OK;
    archive_ = zip_.zip_open(archive_path.c_str(), ZIP_RDONLY, &open_error);
    if (archive_ == nullptr) {
        result_ = failure(failure_code(open_error, ZIP_ER_OPEN));
        return false;
    }
    archive_path_ = archive_path;
    return true;
}

ZipResult ZipEntrySource::open(const std::string& archive_path, const std::string& entry_name) {
    if (!open_archive(archive_path)) return result_;
    return result_ = open_named_entry(archive_, entry_name);
}

ZipResult ZipEntrySource::open_index(const std::string& archive_path, std::uint64_t index) {
    if (!open_archive(archive_path)) return result_;
    return result_ = open_entry(archive_, index);
}

ZipResult ZipEntrySource::open_nested(const std::string& archive_path, std::uint64_t inner_index,
                                      const std::string& entry_name) {
    if (!open_archive(archive_path)) return result_;
    result_ = open_inner_archive(inner_index);
    if (result_.status != ZipStatus::ok) return result_;
    return result_ = open_named_entry(inner_, entry_name);
}

ZipResult ZipEntrySource::open_inner_archive(std::uint64_t index) {
    zip_stat_t stat;
    zip_.zip_stat_init(&stat);
    if (zip_.zip_stat_index(archive_, index, 0, &stat) != 0)
        return failure(archive_error(zip_, archive_, ZIP_ER_INTERNAL));
    if ((stat.valid & ZIP_STAT_SIZE) == 0 || (stat.valid & ZIP_STAT_COMP_METHOD) == 0) return failure(ZIP_ER_INCONS);
    const bool encrypted = (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && stat.encryption_method != ZIP_EM_NONE;
    zip_source_t* source = nullptr;
    zip_error_t error;
    zip_.zip_error_init(&error);
    if (stat.comp_method == ZIP_CM_STORE && !encrypted) {
        // The inner zip's bytes as they lie in the outer archive: a seekable window, read on demand.
        source = zip_.zip_source_zip(archive_, archive_, index, 0, 0, 0);
        if (source == nullptr) {
            zip_.zip_error_fini(&error);
            return failure(archive_error(zip_, archive_, ZIP_ER_INTERNAL));
        }
    } else {
        zip_.zip_error_fini(&error);
        if (stat.size > kMaxDeflatedInnerArchive) return ZipResult{ZipStatus::too_large, 0, {}, {}};
        try {
            inner_bytes_ = std::make_unique<char[]>(stat.size > 0 ? static_cast<std::size_t>(stat.size) : 1);
        } catch (const std::bad_alloc&) {
            return failure(ZIP_ER_MEMORY);
        }
        zip_file_t* file = zip_.zip_fopen_index(archive_, index, 0);
        if (file == nullptr) return failure(archive_error(zip_, archive_, ZIP_ER_OPEN));
        // Read past the end, so that libzip checks the CRC.
        std::uint64_t total = 0;
        int code = ZIP_ER_OK;
        for (;;) {
            char probe = 0;
            char* at = total < stat.size ? inner_bytes_.get() + total : &probe;
            const zip_uint64_t want = total < stat.size ? stat.size - total : 1;
            const zip_int64_t n = zip_.zip_fread(file, at, want);
            if (n < 0) {
                code = failure_code(zip_.zip_error_code_zip(zip_.zip_file_get_error(file)), ZIP_ER_READ);
                break;
            }
            if (n == 0) {
                if (total != stat.size) code = ZIP_ER_INCONS;
                break;
            }
            total += static_cast<std::uint64_t>(n);
            if (total > stat.size) {
                code = ZIP_ER_INCONS;
                break;
            }
        }
        zip_.zip_fclose(file);
        if (code != ZIP_ER_OK) return failure(code);
        zip_.zip_error_init(&error);
        source = zip_.zip_source_buffer_create(inner_bytes_.get(), stat.size, 0, &error);
        if (source == nullptr) {
            const int source_error = failure_code(zip_.zip_error_code_zip(&error), ZIP_ER_MEMORY);
            zip_.zip_error_fini(&error);
            return failure(source_error);
        }
    }
    inner_ = zip_.zip_open_from_source(source, ZIP_RDONLY, &error);
    if (inner_ == nullptr) {
        // A source the archive did not take stays ours.
        zip_.zip_source_free(source);
        const int open_error = failure_code(zip_.zip_error_code_zip(&error), ZIP_ER_OPEN);
        zip_.zip_error_fini(&error);
        return failure(open_error);
    }
    zip_.zip_error_fini(&error);
    return ZipResult{};
}

ZipResult ZipEntrySource::open_named_entry(zip_t* archive, const std::string& entry_name) {
    // Of NAME.XML and name.xml both present, the exact spelling is the one meant.
    const std::uint32_t ansi_code_page = platform::ansi_code_page();
    const zip_int64_t count = zip_.zip_get_num_entries(archive, 0);
    zip_int64_t found = -1;
    try {
        for (zip_int64_t i = 0; i < count; ++i) {
            const char* name = zip_.zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            if (name == nullptr) continue;
            const NameMatch match = match_entry_name(name, entry_name, ansi_code_page);
            if (match == NameMatch::exact) {
                found = i;
                break;
            }
            if (match == NameMatch::any_case && found < 0) found = i;
        }
    } catch (const std::bad_alloc&) {
        return failure(ZIP_ER_MEMORY);
    }
    if (found < 0) return ZipResult{ZipStatus::no_entry, 0, {}, {}};
    return open_entry(archive, static_cast<zip_uint64_t>(found));
}

ZipResult ZipEntrySource::open_entry(zip_t* archive, std::uint64_t index) {
    zip_stat_t stat;
    zip_.zip_stat_init(&stat);
    if (zip_.zip_stat_index(archive, index, 0, &stat) != 0)
        return entry_failure(archive_error(zip_, archive, ZIP_ER_INTERNAL));
    if ((stat.valid & ZIP_STAT_SIZE) == 0) return entry_failure(ZIP_ER_INCONS);
    entry_ = zip_.zip_fopen_index(archive, index, 0);
    if (entry_ == nullptr) return entry_failure(archive_error(zip_, archive, ZIP_ER_OPEN));
    size_ = stat.size;
    return ZipResult{};
}

// Reading goes on to the end of the entry, so libzip gets to check the entry's CRC, and the byte
// count must equal the size the archive states.
std::int64_t ZipEntrySource::read(char* buffer, std::size_t size) {
    if (entry_ == nullptr || result_.status != ZipStatus::ok) return -1;
    const zip_int64_t n = zip_.zip_fread(entry_, buffer, size);
    if (n < 0) {
        result_ = entry_failure(failure_code(zip_.zip_error_code_zip(zip_.zip_file_get_error(entry_)), ZIP_ER_READ));
        return -1;
    }
    total_ += static_cast<std::uint64_t>(n);
    if (total_ > size_ || (n == 0 && total_ != size_)) {
        result_ = entry_failure(ZIP_ER_INCONS);
        return -1;
    }
    return n;
}

}  // namespace chizuvec
