// The one-line progress bar of a run of many files, redrawn in place on standard error. Only on a
// terminal: a log or a pipe gets nothing from it.
#pragma once

#include <cstddef>
#include <string>

namespace chizuvec {

class ProgressLine {
  public:
    ProgressLine(bool enabled, std::size_t total, double start);
    // Redraws the line for `done` files done at monotonic time `now`.
    void show(std::size_t done, double now);
    // Removes the line, so that a message or the summary starts on a clean line.
    void clear();

  private:
    bool enabled_;
    std::size_t total_;
    double start_;
    std::size_t shown_width_ = 0;
};

// The text of the line (without the carriage return).
std::string progress_text(std::size_t done, std::size_t total, double elapsed);

}  // namespace chizuvec
