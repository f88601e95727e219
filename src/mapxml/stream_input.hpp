// A named input that is not a regular file (a pipe, /dev/stdin, a device): read as it comes, with a
// bound, and judged by its first bytes, since it cannot be looked at before it is read and may never
// end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "mapxml/line_reader.hpp"

namespace chizuvec {

// More than this from a pipe or device is no map file (the largest published ones are a few
// hundred MB); reading stops there.
inline constexpr std::uint64_t kMaxStreamedInputBytes = std::uint64_t{2} << 30;
// The first bytes that decide what the input is.
inline constexpr std::size_t kStreamHeadBytes = 4096;

enum class StreamVerdict {
    text,       // read on
    binary,     // a NUL or another control byte among the first bytes: not map XML
    archive,    // a zip signature first: an archive, which must be a file to be read
    too_long,   // more than kMaxStreamedInputBytes
    read_error  // the system failed a read
};

// The bytes of an opened stream for the line reader; a verdict other than text ends them.
class StreamSource final : public ByteSource {
  public:
    explicit StreamSource(std::FILE* file) : file_(file) {}
    std::int64_t read(char* buffer, std::size_t size) override;
    StreamVerdict verdict() const { return verdict_; }

  private:
    void judge_head(const char* bytes, std::size_t count);

    std::FILE* file_;
    std::uint64_t total_ = 0;
    StreamVerdict verdict_ = StreamVerdict::text;
};

}  // namespace chizuvec
