#include "render/svg_output.hpp"

#include <algorithm>

namespace chizuvec {

SvgOutput make_output(std::FILE* file, std::string* sink, std::size_t capacity) {
    SvgOutput out;
    out.file = file;
    out.sink = sink;
    out.capacity = std::max<std::size_t>(capacity, 64);
    out.buffer = make_large_buffer(out.capacity);
    return out;
}

bool flush_output(SvgOutput& out) {
    if (out.used > 0 && !out.failed) {
        if (out.file != nullptr) {
            out.failed = std::fwrite(out.buffer.get(), 1, out.used, out.file) != out.used;
        } else if (out.sink != nullptr) {
            out.sink->append(out.buffer.get(), out.used);
        }
    }
    out.used = 0;
    return !out.failed;
}

void put_spilling(SvgOutput& out, std::string_view bytes) {
    while (!bytes.empty() && !out.failed) {
        const std::size_t n = std::min(bytes.size(), out.capacity - out.used);
        std::memcpy(out.buffer.get() + out.used, bytes.data(), n);
        out.used += n;
        bytes.remove_prefix(n);
        if (out.used == out.capacity) flush_output(out);
    }
}

void put_int_after_flush(SvgOutput& out, std::int64_t value) {
    flush_output(out);
    if (out.failed) return;
    put_int(out, value);
}

}  // namespace chizuvec
