// Names of the drawings of a run of many files: one per map file, or one per sheet, made safe for
// file names on Windows and POSIX, and never the same name twice in one run.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace chizuvec {

// The longest file name the file systems written to take, in bytes (255 UTF-16 units on NTFS,
// 255 bytes on most POSIX file systems).
inline constexpr std::size_t kMaxFileNameBytes = 255;

// `text` with every byte that Windows or POSIX refuses or treats specially in a file name (control
// bytes, space, < > : " / \ | ? *) replaced by "_"; "_" for an empty text.
std::string file_name_safe(std::string_view text);

// `name` with "_" after its part before the first dot when that part (trailing dots and spaces
// aside) is a device name of Windows in any letter case (CON, PRN, AUX, NUL, COM1-9, LPT1-9), so
// that the file can be made and opened there.
std::string portable_name(std::string_view name);

// `name` (UTF-8) folded as NTFS folds names when it compares them: simple case folding of Latin,
// Greek, Cyrillic, Armenian and full-width Latin letters, so "Ａ" and "ａ" fold alike.
std::string fold_name_case(std::string_view name);

// The names given out in one run, compared as NTFS compares them (fold_name_case), on every
// platform, so that a folder of drawings copied to Windows loses none. Safe to use from several
// threads.
class OutputNames {
  public:
    // Names are kept to `max_bytes` bytes (a file name's limit less the extension to come), in the
    // code page `code_page` of file names.
    explicit OutputNames(std::size_t max_bytes = 251, std::uint32_t code_page = 65001);

    // `name` (a file name without extension, made portable) when it is still free, else the first
    // free of "name~2", "name~3", ...; a name longer than the limit is cut and given "~" and eight
    // hexadecimal digits of its whole text, so that names cut alike stay apart. Claims the name
    // returned. Finding a free name takes constant time on average, however many share a stem.
    std::string claim(const std::string& name);

    // Claims from several threads in input order, so that which name gets the "~N" never depends
    // on the threads' timing: file `index` claims `names` (in their order) once every file before it
    // has ended its turn, then ends its own. Every file from 0 up must end its turn exactly once,
    // through claim_in_turn or pass_turn, whatever happens to it; a file whose turn never ends stops
    // the claims of every file after it.
    std::vector<std::string> claim_in_turn(std::size_t index, const std::vector<std::string>& names);
    // Ends the turn of a file that claims nothing (it failed, or was not drawn per sheet).
    void pass_turn(std::size_t index);

  private:
    std::string claim_locked(const std::string& name);
    std::string folded(const std::string& name) const;

    std::size_t max_bytes_;
    std::uint32_t code_page_;
    std::mutex mutex_;
    std::condition_variable turn_changed_;
    std::size_t turn_ = 0;                                   // the file whose turn it is
    std::unordered_set<std::string> taken_;                  // folded names
    std::unordered_map<std::string, unsigned> next_suffix_;  // folded stem: the next "~N" to try
};

}  // namespace chizuvec
