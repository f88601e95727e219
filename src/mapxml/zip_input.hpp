// The map XML entry of a .zip input, read straight out of the archive in chunks: nothing is written
// to disk, so reading needs no write access and no interruption can leave a file behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mapxml/line_reader.hpp"

// libzip's archive and entry handles; its header stays in the files that call it.
struct zip;
struct zip_file;

namespace chizuvec {

struct ZipLibrary;

enum class ZipStatus {
    ok,               // the entry is open for reading
    no_entry,         // the archive holds no entry of the wanted name
    failed,           // libzip failed; `code` is its error code
    library_missing,  // libzip cannot be loaded; `code` is kZipLibraryMissing, the reason is given
    too_large,        // a deflated inner archive larger than kMaxDeflatedInnerArchive; not read
};

// A deflated inner archive is unpacked into memory to be opened (libzip needs to seek in it), so its
// size is bounded; inner archives of the published data are a few MB. Stored ones are read in place.
inline constexpr std::uint64_t kMaxDeflatedInnerArchive = std::uint64_t{64} << 20;

struct ZipResult {
    ZipStatus status = ZipStatus::ok;
    int code = 0;               // libzip's error code (ZIP_ER_*), 0 when none
    std::string library_file;   // library_missing: the library's file name
    std::string library_error;  // library_missing: why it cannot be used
    bool in_entry = false;      // failed: in the entry itself (its data, its method), not in its archive
};

// An entry of an archive: its index and its name as the entry search compares it (in the code page
// of file names when flagged or guessed UTF-8, else as stored).
struct ZipEntryName {
    std::uint64_t index = 0;
    std::string name;
};

// The entries of the archive at `path`, in archive order.
ZipResult list_zip_entries(const std::string& path, std::vector<ZipEntryName>& entries);

// The wanted entry of an archive as a byte source. The entry is found by its whole name: an exact
// match wins, else the first entry equal to it in ASCII letters of any case (names flagged or
// guessed UTF-8 are converted to the ANSI code page first). Reading checks the entry's CRC and
// stated size at its end; a failure ends the input and leaves its code in result(). Opening another
// entry of the same archive keeps the archive open, whether the last entry failed or not.
class ZipEntrySource final : public ByteSource {
  public:
    explicit ZipEntrySource(const ZipLibrary& zip);
    ZipEntrySource();  // with this process's libzip
    ~ZipEntrySource() override;
    ZipEntrySource(const ZipEntrySource&) = delete;
    ZipEntrySource& operator=(const ZipEntrySource&) = delete;

    ZipResult open(const std::string& archive_path, const std::string& entry_name);
    // The entry at `index` of the archive.
    ZipResult open_index(const std::string& archive_path, std::uint64_t index);
    // The entry `entry_name` of the zip that is entry `inner_index` of the archive, found as open()
    // finds it. A stored inner zip is read in place through a window on the archive; a deflated one
    // is unpacked into memory first (at most kMaxDeflatedInnerArchive bytes). Nothing goes to disk.
    ZipResult open_nested(const std::string& archive_path, std::uint64_t inner_index, const std::string& entry_name);
    std::int64_t read(char* buffer, std::size_t size) override;

    // The entry's uncompressed size as the archive states it.
    std::uint64_t size() const { return size_; }
    // ok until a read fails; then failed with libzip's code.
    const ZipResult& result() const { return result_; }

  private:
    void close_entry();
    void close();
    bool open_archive(const std::string& archive_path);
    ZipResult open_inner_archive(std::uint64_t index);
    ZipResult open_named_entry(zip* archive, const std::string& entry_name);
    ZipResult open_entry(zip* archive, std::uint64_t index);

    const ZipLibrary& zip_;
    zip* archive_ = nullptr;
    std::string archive_path_;             // the path archive_ was opened by
    zip* inner_ = nullptr;                 // the inner archive of open_nested, or none
    std::unique_ptr<char[]> inner_bytes_;  // a deflated inner archive, unpacked
    zip_file* entry_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t total_ = 0;
    ZipResult result_;
};

}  // namespace chizuvec
