// The one way every output of the program is written: opened under the run's rules (never an input,
// a temporary file beside the target), written with every byte checked, then committed when complete
// or abandoned, so that a file the user had is replaced only by a whole new one. Standard output
// ("-") takes the same path, with nothing to put in place.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace chizuvec {

enum class WriteStatus {
    ok,
    unsupported_type,  // no format has the output's extension; nothing touched
    output_is_input,   // the output names a file the run reads; nothing touched
    read_only,         // the output is a read-only file; nothing touched
    failed,            // cannot open, write or close; the previous output stays as it was
    unavailable,       // the format is not in this build (PDF without cairo); nothing touched
    no_memory,         // the output could not be built or written for want of memory; nothing touched
};

class OutputSession {
  public:
    OutputSession() = default;
    OutputSession(const OutputSession&) = delete;
    OutputSession& operator=(const OutputSession&) = delete;
    ~OutputSession() { abandon(); }

    // Opens `path`, or standard output for "-" when `standard_output_allowed`: ok, output_is_input or
    // failed.
    WriteStatus open(const std::string& path, const platform::OutputRules& rules, bool standard_output_allowed);
    bool to_standard_output() const { return standard_output_; }
    std::FILE* stream() const { return standard_output_ ? stdout : file_.stream; }
    // For a writer that opens its file by name: the file to write (see release_output_stream).
    std::string release_stream();
    // False once any write has failed.
    bool write(std::string_view bytes);
    // Puts the complete output in place (flushes standard output); false when that or any write
    // failed, the previous file then kept. `size` is the file's size.
    bool commit(std::int64_t& size);
    // Removes what was written; the previous file stays. Nothing happens when nothing is open.
    void abandon();

  private:
    platform::OutputFile file_;
    bool open_ = false;
    bool standard_output_ = false;
    bool failed_ = false;
};

// The error line of an output that could not be written, "** Error: ...\n".
std::string output_error_text(WriteStatus status, const std::string& path);

}  // namespace chizuvec
