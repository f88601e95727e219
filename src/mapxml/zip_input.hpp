// The map XML entry of a .zip input, read straight out of the archive in chunks: nothing is written
// to disk, so reading needs no write access and no interruption can leave a file behind.
#pragma once

#include <zip.h>

#include <cstdint>
#include <string>

#include "mapxml/line_reader.hpp"

namespace chizuvec {

struct ZipLibrary;

enum class ZipStatus {
    ok,               // the entry is open for reading
    no_entry,         // the archive holds no entry of the wanted name
    failed,           // libzip failed; `code` is its error code
    library_missing,  // libzip cannot be loaded; `code` is kZipLibraryMissing, the reason is given
};

struct ZipResult {
    ZipStatus status = ZipStatus::ok;
    int code = 0;               // libzip's error code (ZIP_ER_*), 0 when none
    std::string library_file;   // library_missing: the library's file name
    std::string library_error;  // library_missing: why it cannot be used
};

// The wanted entry of an archive as a byte source. The entry is found by its whole name: an exact
// match wins, else the first entry equal to it in ASCII letters of any case (names flagged or
// guessed UTF-8 are converted to the ANSI code page first). Reading checks the entry's CRC and
// stated size at its end; a failure ends the input and leaves its code in result().
class ZipEntrySource final : public ByteSource {
  public:
    explicit ZipEntrySource(const ZipLibrary& zip);
    ZipEntrySource();  // with this process's libzip
    ~ZipEntrySource() override;
    ZipEntrySource(const ZipEntrySource&) = delete;
    ZipEntrySource& operator=(const ZipEntrySource&) = delete;

    ZipResult open(const std::string& archive_path, const std::string& entry_name);
    std::int64_t read(char* buffer, std::size_t size) override;

    // The entry's uncompressed size as the archive states it.
    std::uint64_t size() const { return size_; }
    // ok until a read fails; then failed with libzip's code.
    const ZipResult& result() const { return result_; }

  private:
    void close();

    const ZipLibrary& zip_;
    zip_t* archive_ = nullptr;
    zip_file_t* entry_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t total_ = 0;
    ZipResult result_;
};

}  // namespace chizuvec
