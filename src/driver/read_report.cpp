#include "driver/read_report.hpp"

#include "common/text_format.hpp"
#include "driver/display_name.hpp"
#include "mapxml/stream_input.hpp"
#include "platform/platform.hpp"

namespace chizuvec {

namespace {

// libzip's error codes (ZIP_ER_*) that a damaged or unusual archive gives, in words.
const char* zip_error_words(int code) {
    switch (code) {
        case 5:
            return "read error";
        case 7:
            return "CRC error";
        case 11:
            return "cannot be opened";
        case 13:
        case 31:
            return "compressed data invalid";
        case 14:
            return "out of memory";
        case 16:
            return "compression method not supported";
        case 17:
            return "ends early";
        case 19:
            return "not a zip archive";
        case 21:
            return "inconsistent archive";
        case 24:
            return "encryption method not supported";
        case 26:
        case 27:
            return "encrypted";
        default:
            return nullptr;
    }
}

}  // namespace

std::string read_failure_text(const ReadResult& read, std::string_view name, std::string_view inner_entry) {
    switch (read.status) {
        case ReadStatus::ok:
            return {};
        case ReadStatus::not_map_xml:
            return format_text("** Error: \"%.*s\" is not a map XML file\n", static_cast<int>(name.size()),
                               name.data());
        case ReadStatus::not_found:
            return "** Error: Input file not found\n";
        case ReadStatus::no_memory:
            return "** Error: code=2\n";
        case ReadStatus::no_map_file:
            return "** Error: holds no map file\n";
        case ReadStatus::archive_not_file:
            return format_text("** Error: \"%.*s\" is a zip archive on a pipe or device: save it as a file first\n",
                               static_cast<int>(name.size()), name.data());
        case ReadStatus::stream_too_long:
            return format_text("** Error: \"%.*s\" is not a file and goes on past %llu MB: not a map XML file\n",
                               static_cast<int>(name.size()), name.data(),
                               static_cast<unsigned long long>(kMaxStreamedInputBytes >> 20));
        case ReadStatus::zip_failed:
            break;
    }
    std::string text;
    if (read.zip.status == ZipStatus::library_missing) {
        text += format_text("** Error: cannot load %s: %s\n", read.zip.library_file.c_str(),
                            read.zip.library_error.c_str());
    }
    if (read.zip.status == ZipStatus::failed && !inner_entry.empty()) {
        // One line that says what is wrong and what mends it, rather than libzip's number.
        const char* words = zip_error_words(read.zip.code);
        std::string reason = words != nullptr ? words : format_text("libzip error %d", read.zip.code);
        if (read.zip.in_entry) reason += " in " + display_utf8(platform::path_file_name(name));
        return message_text(
            format_text("** Error: the inner archive %s is damaged (%s): download the municipality again\n",
                        display_utf8(platform::path_file_name(inner_entry)).c_str(), reason.c_str()));
    }
    if (read.zip.status == ZipStatus::too_large) {
        text += format_text("** Error: inner archive is deflated and larger than %u MB\n",
                            static_cast<unsigned>(kMaxDeflatedInnerArchive >> 20));
    } else {
        text += format_text("** Error: ZIP error code %d\n", read.zip.code);
    }
    return text + "** Error: code=3\n";
}

std::string named_lines(std::string_view name, std::string_view text) {
    const std::string shown = display_name(name);
    std::string named;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t take = end == std::string_view::npos ? text.size() : end + 1;
        named.append(shown).append(": ").append(text.substr(0, take));
        text.remove_prefix(take);
    }
    return named;
}

}  // namespace chizuvec
