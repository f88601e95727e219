// Everything the program needs from the operating system, in the program's own terms. One file per
// platform implements it (platform_posix.cpp, platform_windows.cpp); nothing outside this folder
// asks which platform it runs on.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

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

// The moment a reproducible run asks its outputs to record instead of the present one:
// SOURCE_DATE_EPOCH, seconds since 1970 UTC, when it is set to a whole number; false otherwise.
bool source_date_epoch(std::int64_t& seconds);

// Directory of the running executable, without a trailing separator.
std::string executable_directory();
// A path for a library that takes UTF-8 file names (SQLite): converted from the ANSI code page on
// Windows; on POSIX the same bytes, which the system takes as they are.
std::string utf8_path(const std::string& path);
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
// Is this an existing regular file (through any link), not a directory, a device or a pipe? Asked
// without opening it: opening a pipe waits for its writer.
bool is_regular_file(const std::string& path);
// The names of the entries of a directory (no "." or ".."), in no particular order; empty when it
// cannot be read.
std::vector<std::string> list_directory(const std::string& path);
// Creates the directory `path` (one level: its parent must exist) unless it exists. True when it
// is a directory afterwards.
bool make_directory(const std::string& path);
// Removes the directory `path` when it is empty; false when it is not, or cannot be removed.
bool remove_empty_directory(const std::string& path);
// Moves a stream to a byte offset from the file's start, past 2 GiB too. False when it cannot.
bool seek_file(std::FILE* file, std::int64_t offset);
// Why a file cannot be written in the existing folder `folder` ("" for the current one): the
// folder refuses new files to this user, or its disk has no room left. For a message only.
enum class FolderProblem { none, not_writable, disk_full };
FolderProblem folder_problem(const std::string& folder);
// The first `bytes` bytes of a regular file, fewer when it is shorter; "" when it cannot be read or
// is not a regular file (a pipe would lose them).
std::string file_head(const std::string& path, std::size_t bytes);
// Size of a file in bytes, or -1 when it cannot be opened.
std::int64_t file_size(const std::string& path);

// A block of `bytes` (at least 2 MiB) for an array that will be filled from its start: aligned to
// 2 MiB and, where the system offers huge pages, mapped in 2 MiB steps rather than one 4 KiB page
// fault at a time. nullptr when memory is short. Only free_large_block releases it.
void* allocate_large_block(std::size_t bytes);
void free_large_block(void* block, std::size_t bytes);

// A drawing's output file while it is written. A regular file (or none yet) is written as a new
// temporary file in the folder of the file it will replace, and only commit_output_file puts it in
// place, so a failed or interrupted write leaves the previous file exactly as it was; a symbolic
// link is followed, so its target is replaced and the link stays; other names of a hard-linked file
// keep the old content. Anything else that exists under the name (a device, a pipe) is written
// directly, as it cannot be replaced. The new file takes the permission bits of the file it
// replaces, or those of a freshly created file (0666 less the umask) when there was none.
// Outputs may be written on several threads at once, up to kMaxOutputsInFlight of them.
inline constexpr int kMaxOutputsInFlight = 256;
struct OutputFile {
    std::FILE* stream = nullptr;  // where the bytes go; null when nothing is open
    std::string target_path;      // the file that the output becomes, links followed
    std::string temp_path;        // the temporary file; empty when writing directly
    int slot = -1;                // the platform's record of the temporary file, for signals
    bool replaces_link = false;   // target_path is a link that the new file replaces
    bool released = false;        // the stream is closed and another writer fills the file by name
};
// What identifies a file whatever name or link leads to it: device and inode on POSIX, volume
// serial number and file index on Windows.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    auto operator<=>(const FileId&) const = default;
};
// The identity of the existing file `path` names (links followed); false when there is none.
bool file_id(const std::string& path, FileId& id);

// How an output may be put in place.
struct OutputRules {
    // Files the run reads, sorted: an output that is one of them is refused, so no output replaces
    // an input.
    std::vector<FileId> inputs;
    // A symbolic link under the output's name is replaced by the new file instead of followed (for
    // names the program chose in a folder the user named, not names the user gave).
    bool replace_links = false;
};
enum class OutputOpen {
    ok,         // the output is open for writing
    is_input,   // the output would replace one of the rules' inputs; nothing was created
    read_only,  // the output is an existing file marked read-only: not replaced; nothing was created
    failed,     // nothing could be opened; nothing was created
};
// Opens the output `path` for writing (see OutputFile) under `rules`; then as begin_output_file.
// Every output of the program goes through this, then write_output, then commit_output_file (or
// abandon_output_file), so that a file the user had is replaced only by a complete one, never by
// a cut-off one, and never when it is an input of the run.
OutputOpen open_output_file(const std::string& path, const OutputRules& rules, OutputFile& out);
// Writes `bytes` to the output; false when the write failed (commit_output_file then fails too).
bool write_output(OutputFile& out, std::string_view bytes);
// Opens the output `path` for writing (see OutputFile). From here until commit or abandon, an
// interrupt, terminate or hang-up signal (the console's Ctrl+C, Ctrl+Break or close on Windows)
// removes the temporary files of every output in flight, on any thread, before the process ends as
// the signal would end it (unless catch_interrupts is in force, see there), and a file-size limit
// makes a write fail instead of ending the process. False when nothing could be opened, or when
// kMaxOutputsInFlight outputs are already open; then nothing was created. Safe to call from several
// threads at once, each with its own OutputFile.
bool begin_output_file(const std::string& path, OutputFile& out);
// Closes the output and puts the temporary file in place of the target. `size` becomes the size
// of the file written (0 for a device or pipe). False when any write, closing or replacing failed: the
// temporary file is then removed and the previous file is untouched.
bool commit_output_file(OutputFile& out, std::int64_t& size);
// Closes the output and removes the temporary file; the previous file stays as it was. Does
// nothing when nothing is open.
void abandon_output_file(OutputFile& out);
// For a writer that opens its file by name (a database library): closes the stream, keeping the
// file it wrote to, and returns that file's path (the temporary file, or the target when written
// directly) for the writer to open. Commit and abandon then work as before.
std::string release_output_stream(OutputFile& out);

// For a run of many files that stops cleanly on Ctrl+C. From this call until the process ends, the
// first interrupt, terminate or hang-up signal does not end the process: it is only recorded, for
// interrupt_requested, and the threads it interrupted go on. A second one ends the process at once
// as described at begin_output_file (the user insists). Call it once, before starting threads.
void catch_interrupts();
// Has a signal been recorded since catch_interrupts? Safe on any thread.
bool interrupt_requested();
// Ends the process as the recorded signal would have ended it (so a calling shell sees the
// interrupt); exit code 1 when none was recorded. Standard streams are flushed first.
[[noreturn]] void end_as_interrupted();

// Makes a stream write its bytes unchanged: a Windows console program's standard output would
// otherwise turn each LF into CR LF, also in text that has its own CR LF. Nothing to do on POSIX.
void write_bytes_unchanged(std::FILE* stream);

// Is standard error a terminal (a console on Windows), so that a progress line may be redrawn?
bool stderr_is_terminal();

// Do both names lead to the same existing file (through any link or other name)?
bool same_file(const std::string& a, const std::string& b);

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
