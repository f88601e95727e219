// The libzip functions the archive input calls, as one table. Where libzip is loaded on demand the
// table is filled from the shared library on the first archive read, so runs on plain map files
// never map libzip (and what it pulls in) at start-up; otherwise it holds the linked functions.
#pragma once

#include <zip.h>

#include <string>

// Every libzip function zip_input.cpp calls (an inner archive is opened from a source over its entry); the table and
// its loader are both made from this list, so a function cannot be declared without being looked up.
#define CHIZUVEC_ZIP_FUNCTIONS(X) \
    X(zip_open)                   \
    X(zip_close)                  \
    X(zip_discard)                \
    X(zip_get_num_entries)        \
    X(zip_get_name)               \
    X(zip_get_error)              \
    X(zip_error_code_zip)         \
    X(zip_stat_init)              \
    X(zip_stat_index)             \
    X(zip_fopen_index)            \
    X(zip_fread)                  \
    X(zip_file_get_error)         \
    X(zip_fclose)                 \
    X(zip_source_zip)             \
    X(zip_source_buffer_create)   \
    X(zip_source_free)            \
    X(zip_open_from_source)       \
    X(zip_error_init)             \
    X(zip_error_fini)

namespace chizuvec {

// Typed from <zip.h>, so every call through the table is checked against libzip's declarations.
struct ZipLibrary {
#define CHIZUVEC_ZIP_MEMBER(name) decltype(&::name) name = nullptr;
    CHIZUVEC_ZIP_FUNCTIONS(CHIZUVEC_ZIP_MEMBER)
#undef CHIZUVEC_ZIP_MEMBER
    // The library's file name as it was asked for, and why it cannot be used (empty when usable).
    std::string file_name;
    std::string error;
    bool usable() const { return error.empty(); }
};

// The error code of an archive read when the table is unusable: an internal failure, not the archive's.
inline constexpr int kZipLibraryMissing = ZIP_ER_INTERNAL;

// Loads libzip from the shared library `file_name` and looks up every function. The table is
// usable only when all are found; otherwise `error` tells the first reason.
ZipLibrary load_zip_library(const char* file_name);

// The table of this process, made on first use: the linked functions, or those of the library
// loaded by its file name when the build loads libzip on demand.
const ZipLibrary& zip_library();

}  // namespace chizuvec
