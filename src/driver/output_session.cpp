#include "driver/output_session.hpp"

#include "common/text_format.hpp"
#include "driver/console.hpp"
#include "driver/display_name.hpp"
#include "render/pdf_writer.hpp"

namespace chizuvec {

WriteStatus OutputSession::open(const std::string& path, const platform::OutputRules& rules,
                                bool standard_output_allowed) {
    abandon();
    failed_ = false;
    if (standard_output_allowed && path == "-") {
        standard_output_ = true;
        open_ = true;
        platform::write_bytes_unchanged(stdout);  // the outputs end their lines themselves
        return WriteStatus::ok;
    }
    standard_output_ = false;
    switch (platform::open_output_file(path, rules, file_)) {
        case platform::OutputOpen::ok:
            open_ = true;
            return WriteStatus::ok;
        case platform::OutputOpen::is_input:
            return WriteStatus::output_is_input;
        case platform::OutputOpen::read_only:
            return WriteStatus::read_only;
        case platform::OutputOpen::failed:
            break;
    }
    return WriteStatus::failed;
}

std::string OutputSession::release_stream() {
    if (standard_output_) return "-";
    return platform::release_output_stream(file_);
}

bool OutputSession::write(std::string_view bytes) {
    if (failed_ || !open_) return false;
    failed_ = standard_output_ ? !write_standard_output(bytes) : !platform::write_output(file_, bytes);
    return !failed_;
}

bool OutputSession::commit(std::int64_t& size) {
    size = 0;
    if (!open_) return false;
    open_ = false;
    if (standard_output_) return finish_standard_output() && !failed_;
    if (failed_) {
        platform::abandon_output_file(file_);
        return false;
    }
    return platform::commit_output_file(file_, size);
}

void OutputSession::abandon() {
    if (!open_) return;
    open_ = false;
    if (!standard_output_) platform::abandon_output_file(file_);
}

std::string output_error_text(WriteStatus status, const std::string& path) {
    const std::string shown = display_name(path);
    switch (status) {
        case WriteStatus::ok:
            return {};
        case WriteStatus::unsupported_type:
            return format_text("** Error: Unsupported output file type \"%s\"\n", shown.c_str());
        case WriteStatus::output_is_input:
            return format_text("** Error: Output file \"%s\" is the input file\n", shown.c_str());
        case WriteStatus::read_only:
            return format_text("** Error: \"%s\" is read-only\n", shown.c_str());
        case WriteStatus::unavailable: {
            // As for libzip: the library that could not be loaded, and why.
            const std::string why = pdf_unavailable_reason();
            return why.empty() ? "** Error: PDF output is not available in this build\n"
                               : "** Error: cannot load " + why + "\n";
        }
        case WriteStatus::no_memory:
            return "** Error: out of memory\n";
        case WriteStatus::failed:
            break;
    }
    if (path == "-") return kCannotWriteStdout;
    return format_text("** Error: Cannot write output file \"%s\"\n", shown.c_str());
}

}  // namespace chizuvec
