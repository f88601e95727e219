// Everything the program needs from the operating system, in the program's own terms. One file per
// platform implements it (platform_posix.cpp, platform_windows.cpp); nothing outside this folder
// asks which platform it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace chizuvec::platform {

// Code page numbers as Windows names them.
inline constexpr std::uint32_t kCodePageShiftJis = 932;
inline constexpr std::uint32_t kCodePageEucJp = 20932;
inline constexpr std::uint32_t kCodePageUtf8 = 65001;

// The code page of file names, arguments and console texts. On POSIX: the codeset of the
// environment's LC_CTYPE (the process locale is left as it was), an ASCII locale counting as UTF-8.
std::uint32_t ansi_code_page();
// The console's code page; on POSIX the same as the ANSI code page.
std::uint32_t console_code_page();

// Converts `text` between two code pages (through UTF-16 on Windows, iconv on POSIX). Characters
// the target lacks become its replacement character ("?"); invalid input bytes are replaced too.
// Returns the converted text; text is returned unchanged when both code pages are the same.
std::string convert_code_page(std::string_view text, std::uint32_t from_code_page, std::uint32_t to_code_page);

// Directory of the running executable, without a trailing separator.
std::string executable_directory();
// The path separator to put between a directory and a file name.
char path_separator();
// The last component of a path (the text after the last separator).
std::string_view path_file_name(std::string_view path);
// The extension of a path: from the last "." of its last component, the dot included; empty when
// that component has no ".".
std::string_view path_extension(std::string_view path);
// The directory part of a path without its trailing separator; empty when there is none.
std::string_view path_directory(std::string_view path);
// Does a file or directory of this name exist?
bool path_exists(const std::string& path);
// Is this an existing directory?
bool is_directory(const std::string& path);
// Removes a file; true when it is gone.
bool remove_file(const std::string& path);
// Sets the access and modification times of a file (seconds since 1970-01-01 UTC).
bool set_file_time(const std::string& path, std::int64_t unix_seconds);
// Size of a file in bytes, or -1 when it cannot be opened.
std::int64_t file_size(const std::string& path);

// A block of `bytes` (at least 2 MiB) for an array that will be filled from its start: aligned to
// 2 MiB and, where the system offers huge pages, mapped in 2 MiB steps rather than one 4 KiB page
// fault at a time. nullptr when memory is short. Only free_large_block releases it.
void* allocate_large_block(std::size_t bytes);
void free_large_block(void* block, std::size_t bytes);

// Creates a file that must not exist yet and opens it for writing bytes unchanged; an existing file
// is never opened or replaced. Returns a handle (>= 0), kFileExists when the name is taken, or
// kFileFailed for any other failure.
inline constexpr int kFileExists = -1;
inline constexpr int kFileFailed = -2;
int create_new_file(const std::string& path);
// Writes all `size` bytes to a handle from create_new_file; false on any failure.
bool write_file(int handle, const void* data, std::size_t size);
// Closes a handle from create_new_file; false when the data may not have reached the file.
bool close_file(int handle);

// Milliseconds from a monotonic clock (wraps as a 32-bit count does).
std::uint32_t tick_count();
// Seconds from a monotonic clock, for elapsed times.
double monotonic_seconds();

// Waits for a key press when standard input is a terminal, so an error stays on the screen;
// returns at once otherwise, so scripts never hang.
void pause_for_key();

// Hands a finished file to the desktop's viewer, detached; the result is not examined.
void open_with_desktop(const std::string& path);

// Shared libraries loaded at run time, for a dependency that only some runs need, so the others
// do not pay for mapping it at start-up. A library stays loaded until the process ends.
// Opens a library by file name (resolving all its symbols now); nullptr on failure.
void* load_library(const char* name);
// The address of an exported function of a library from load_library; nullptr when it has none.
void* library_symbol(void* library, const char* name);
// Why the last load_library or library_symbol failed, as the system tells it.
std::string library_error();

// Measurement of one line of text for the source line of the drawing.
struct TextExtent {
    long advance = 0;              // advance width in pixels
    long ascent_plus_descent = 0;  // typographic ascent + descent in pixels; 0 when unknown
};
// Measures `text` (UTF-8) in the font that best matches `face` (UTF-8) at a character cell height
// of `pixel_size` pixels. Returns false when no font at all could be loaded.
bool measure_text(std::string_view text, std::string_view face, std::uint32_t pixel_size, TextExtent& extent);

}  // namespace chizuvec::platform
