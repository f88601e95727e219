// Names of the drawings of a run of many files: one per map file, or one per sheet, made safe for
// file names on Windows and POSIX, and never the same name twice in one run.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

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

    std::mutex mutex_;
    std::condition_variable turn_changed_;
    std::size_t turn_ = 0;  // the file whose turn it is
    std::unordered_set<std::string> taken_;
};

}  // namespace chizuvec
