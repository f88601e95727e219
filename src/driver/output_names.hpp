// Names of the drawings of a run of many files: one per map file, or one per sheet, made safe for
// file names on Windows and POSIX, and never the same name twice in one run.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

namespace chizuvec {

// `text` with every byte that Windows or POSIX refuses or treats specially in a file name (control
// bytes, space, < > : " / \ | ? *) replaced by "_"; "_" for an empty text.
std::string file_name_safe(std::string_view text);

// The names given out in one run, compared without regard to ASCII letter case (as Windows and
// macOS compare them). Safe to use from several threads.
class OutputNames {
  public:
    // `name` (a file name without extension) when it is still free, else the first free of
    // "name~2", "name~3", ... Claims the name returned.
    std::string claim(const std::string& name);

  private:
    std::mutex mutex_;
    std::unordered_set<std::string> taken_;
};

}  // namespace chizuvec
