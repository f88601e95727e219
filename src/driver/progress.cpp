#include "driver/progress.hpp"

#include <cstdio>

#include "common/text_format.hpp"

namespace chizuvec {

constexpr std::size_t kBarWidth = 24;

std::string progress_text(std::size_t done, std::size_t total, double elapsed) {
    const std::size_t filled = total == 0 ? kBarWidth : done * kBarWidth / total;
    std::string text(1, '[');
    text.append(filled, '#');
    text.append(kBarWidth - filled, '.');
    text += ']';
    append_format(text, " %zu/%zu files, %.1f s", done, total, elapsed);
    // The estimate assumes the files left take as long on average as the files done.
    if (done > 0 && done < total) {
        append_format(text, ", about %.0f s left",
                      elapsed / static_cast<double>(done) * static_cast<double>(total - done));
    }
    return text;
}

ProgressLine::ProgressLine(bool enabled, std::size_t total, double start)
    : enabled_(enabled), total_(total), start_(start) {}

void ProgressLine::show(std::size_t done, double now) {
    if (!enabled_) return;
    const std::string text = progress_text(done, total_, now - start_);
    std::string line(1, '\r');
    line += text;
    if (text.size() < shown_width_) line.append(shown_width_ - text.size(), ' ');
    shown_width_ = text.size();
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void ProgressLine::clear() {
    if (!enabled_ || shown_width_ == 0) return;
    std::string line(1, '\r');
    line.append(shown_width_, ' ');
    line += '\r';
    std::fwrite(line.data(), 1, line.size(), stderr);
    shown_width_ = 0;
}

}  // namespace chizuvec
