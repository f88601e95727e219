// Copies the map XML entry of a .zip input into a new file beside the archive. The entry is
// streamed through a fixed buffer, so memory does not grow with its size, and the output file is
// created exclusively and removed again unless the whole entry reached it.
// libzip is called only through its table (zip_library.hpp), which may load it on first use.
#include "mapxml/zip_input.hpp"

#include <zip.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>
#include <string_view>

#include "common/ascii.hpp"
#include "mapxml/code_page_guess.hpp"
#include "mapxml/zip_library.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
// How many numbered names are tried when the wanted output name is taken.
constexpr int kMaxNameTries = 100;

struct ArchiveCloser {
    const ZipLibrary* zip;
    void operator()(zip_t* archive) const {
        // Read-only and unchanged, so closing only releases; discard if it still fails.
        if (zip->zip_close(archive) != 0) zip->zip_discard(archive);
    }
};
struct EntryCloser {
    const ZipLibrary* zip;
    void operator()(zip_file_t* entry) const { zip->zip_fclose(entry); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveCloser>;
using EntryHandle = std::unique_ptr<zip_file_t, EntryCloser>;

// The output file while it is written: closed, and removed unless the copy was completed.
struct OutputFile {
    std::string path;
    int handle = -1;
    bool complete = false;
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() {
        if (handle >= 0) platform::close_file(handle);
        if (!complete && !path.empty()) platform::remove_file(path);
    }
};

// libzip reports some failures without setting a code; the caller must still see a failure.
int failure_code(int code, int fallback) { return code != ZIP_ER_OK ? code : fallback; }

// Entry names flagged or guessed as UTF-8 are compared in the code page of file names; any other
// name is compared exactly as stored, since nothing says which code page wrote it.
bool entry_name_matches(const char* raw_name, std::string_view wanted, std::uint32_t ansi_code_page) {
    if (ansi_code_page != platform::kCodePageUtf8 && guess_code_page(raw_name) == static_cast<int>(platform::kCodePageUtf8)) {
        const std::string converted = platform::convert_code_page(raw_name, platform::kCodePageUtf8, ansi_code_page);
        return equals_ignoring_ascii_case(converted, wanted);
    }
    return equals_ignoring_ascii_case(raw_name, wanted);
}

// The archive's directory with its trailing separator, or empty when the path names no directory.
std::string directory_prefix(const std::string& archive_path) {
    const char separators[] = {platform::path_separator(), '/', '\0'};
    const auto last = archive_path.find_last_of(separators);
    return last == std::string::npos ? std::string() : archive_path.substr(0, last + 1);
}

// Steps the last run of digits in a file name on by one within its width (_tmp004711.xml becomes
// _tmp004712.xml, _tmp999999.xml becomes _tmp000000.xml). False when the name has no digit.
bool next_numbered_name(std::string& name) {
    const auto last_digit = name.find_last_of("0123456789");
    if (last_digit == std::string::npos) return false;
    for (std::size_t i = last_digit + 1; i-- > 0;) {
        if (name[i] < '0' || name[i] > '9') break;
        if (name[i] != '9') {
            ++name[i];
            return true;
        }
        name[i] = '0';
    }
    return true;  // wrapped round to all zeros
}

// Creates the output file under the wanted name or, when that is taken, under the next numbers.
int create_output(const std::string& directory, std::string name, OutputFile& out) {
    for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
        const std::string path = directory + name;
        const int handle = platform::create_new_file(path);
        if (handle >= 0) {
            out.path = path;
            out.handle = handle;
            return ZIP_ER_OK;
        }
        if (handle != platform::kFileExists) return ZIP_ER_WRITE;
        if (!next_numbered_name(name)) break;
    }
    return ZIP_ER_EXISTS;
}

// Streams the open entry into the output file. Reading goes on to the end of the entry, so libzip
// gets to check the entry's CRC, and the byte count must equal the size the archive states.
int copy_entry(const ZipLibrary& zip, zip_file_t* entry, zip_uint64_t size, OutputFile& out) {
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kChunkBytes]);
    if (!buffer) return ZIP_ER_MEMORY;
    zip_uint64_t total = 0;
    for (;;) {
        const zip_int64_t n = zip.zip_fread(entry, buffer.get(), kChunkBytes);
        if (n < 0) return failure_code(zip.zip_error_code_zip(zip.zip_file_get_error(entry)), ZIP_ER_READ);
        if (n == 0) break;
        total += static_cast<zip_uint64_t>(n);
        if (total > size) return ZIP_ER_INCONS;
        if (!platform::write_file(out.handle, buffer.get(), static_cast<std::size_t>(n))) return ZIP_ER_WRITE;
    }
    if (total != size) return ZIP_ER_INCONS;
    const int handle = out.handle;
    out.handle = -1;
    return platform::close_file(handle) ? ZIP_ER_OK : ZIP_ER_WRITE;
}

int extract_matching_entry(const ZipLibrary& zip, zip_t* archive, zip_uint64_t index, const std::string& archive_path,
                           const std::string& output_name, std::string& written_path) {
    zip_stat_t stat;
    zip.zip_stat_init(&stat);
    if (zip.zip_stat_index(archive, index, 0, &stat) != 0) {
        return failure_code(zip.zip_error_code_zip(zip.zip_get_error(archive)), ZIP_ER_INTERNAL);
    }
    if ((stat.valid & ZIP_STAT_SIZE) == 0) return ZIP_ER_INCONS;

    // Opened before the output exists, so an encrypted or unsupported entry leaves nothing behind.
    const EntryHandle entry(zip.zip_fopen_index(archive, index, 0), EntryCloser{&zip});
    if (!entry) return failure_code(zip.zip_error_code_zip(zip.zip_get_error(archive)), ZIP_ER_OPEN);

    OutputFile out;
    int code = create_output(directory_prefix(archive_path), output_name, out);
    if (code != ZIP_ER_OK) return code;
    code = copy_entry(zip, entry.get(), stat.size, out);
    if (code != ZIP_ER_OK) return code;
    out.complete = true;
    // A file whose time cannot be set still holds the right data.
    if ((stat.valid & ZIP_STAT_MTIME) != 0) platform::set_file_time(out.path, static_cast<std::int64_t>(stat.mtime));
    written_path = out.path;
    return ZIP_ER_OK;
}

int extract(const ZipLibrary& zip, const std::string& archive_path, const std::string& entry_name,
            const std::string& output_name, std::string& written_path) {
    int open_error = ZIP_ER_OK;
    const ArchiveHandle archive(zip.zip_open(archive_path.c_str(), ZIP_RDONLY, &open_error), ArchiveCloser{&zip});
    if (!archive) return failure_code(open_error, ZIP_ER_OPEN);

    const std::uint32_t ansi_code_page = platform::ansi_code_page();
    const zip_int64_t count = zip.zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const char* name = zip.zip_get_name(archive.get(), index, ZIP_FL_ENC_RAW);
        if (name == nullptr || !entry_name_matches(name, entry_name, ansi_code_page)) continue;
        return extract_matching_entry(zip, archive.get(), index, archive_path, output_name, written_path);
    }
    return ZIP_ER_OK;
}

}  // namespace

int extract_zip_entry_using(const ZipLibrary& zip, const std::string& archive_path, const std::string& entry_name,
                            std::string& output_path) {
    if (!zip.usable()) {
        std::fprintf(stderr, "** Error: cannot load %s: %s\n", zip.file_name.c_str(), zip.error.c_str());
        output_path.clear();
        return kZipLibraryMissing;
    }
    int code = ZIP_ER_OK;
    std::string written_path;
    try {
        // Without a wanted file name the entry is written under the wanted entry name; the name
        // stored in the archive is never used as a path, so it cannot lead out of the folder.
        const std::string output_name = output_path.empty() ? entry_name : output_path;
        code = extract(zip, archive_path, entry_name, output_name, written_path);
    } catch (const std::bad_alloc&) {
        code = ZIP_ER_MEMORY;
    }
    // Only a file that was written comes back as a path.
    output_path = code == ZIP_ER_OK ? written_path : std::string();
    return code;
}

int extract_zip_entry(const std::string& archive_path, const std::string& entry_name, std::string& output_path) {
    return extract_zip_entry_using(zip_library(), archive_path, entry_name, output_path);
}

}  // namespace chizuvec
