#include "mapxml/stream_input.hpp"

#include <algorithm>
#include <string_view>

namespace chizuvec {
namespace {

constexpr std::string_view kZipSignature = "PK\x03\x04";

// Bytes no map text holds: NUL and the control bytes other than tab, line feed and carriage return.
bool is_binary_byte(unsigned char c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

}  // namespace

void StreamSource::judge_head(const char* bytes, std::size_t count) {
    // `total_` bytes came before these; only those within the head are judged.
    if (total_ == 0 && std::string_view(bytes, count).starts_with(kZipSignature)) {
        verdict_ = StreamVerdict::archive;
        return;
    }
    const std::size_t judged = total_ >= kStreamHeadBytes ? 0 : std::min<std::size_t>(count, kStreamHeadBytes - total_);
    for (std::size_t i = 0; i < judged; ++i) {
        if (is_binary_byte(static_cast<unsigned char>(bytes[i]))) {
            verdict_ = StreamVerdict::binary;
            return;
        }
    }
}

std::int64_t StreamSource::read(char* buffer, std::size_t size) {
    if (verdict_ != StreamVerdict::text) return -1;
    const std::size_t got = std::fread(buffer, 1, size, file_);
    if (got == 0) {
        if (std::ferror(file_) != 0) verdict_ = StreamVerdict::read_error;
        return verdict_ == StreamVerdict::text ? 0 : -1;
    }
    if (total_ < kStreamHeadBytes) judge_head(buffer, got);
    total_ += got;
    if (total_ > kMaxStreamedInputBytes) verdict_ = StreamVerdict::too_long;
    return verdict_ == StreamVerdict::text ? static_cast<std::int64_t>(got) : -1;
}

}  // namespace chizuvec
