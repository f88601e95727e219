#include "driver/failure_reasons.hpp"

#include "common/text_format.hpp"
#include "driver/display_name.hpp"
#include "driver/output_formats.hpp"
#include "platform/platform.hpp"

namespace chizuvec {

std::string write_failure_reason(WriteStatus status, const std::string& output_path) {
    if (status == WriteStatus::unsupported_type) return "use " + format_extensions(FormatKind::one_map) + "\n";
    if (status != WriteStatus::failed) return {};
    const std::string folder(platform::path_directory(output_path));
    if (!folder.empty() && !platform::is_directory(folder)) {
        const std::string shown = display_name(folder);
        return platform::path_exists(folder) ? format_text("\"%s\" is not a folder\n", shown.c_str())
                                             : format_text("the folder \"%s\" does not exist\n", shown.c_str());
    }
    if (platform::is_directory(output_path)) {
        return format_text("\"%s\" is a folder\n", display_name(output_path).c_str());
    }
    const std::string shown = folder.empty() ? "." : display_name(folder);
    switch (platform::folder_problem(folder)) {
        case platform::FolderProblem::not_writable:
            return format_text("no permission to write in the folder \"%s\"\n", shown.c_str());
        case platform::FolderProblem::disk_full:
            return format_text("the disk of the folder \"%s\" is full\n", shown.c_str());
        case platform::FolderProblem::none:
            break;
    }
    return {};
}

namespace {

std::string named_lots(const std::vector<std::string>& lots, std::uint32_t count) {
    std::string names;
    for (const std::string& lot : lots) {
        if (!names.empty()) names += ", ";
        names += display_utf8(lot);
    }
    if (count > lots.size()) append_format(names, ", and %zu more", count - lots.size());
    return names;
}

}  // namespace

std::string left_out_text(const MapDataset& dataset) {
    std::string text;
    if (const std::uint32_t n = dataset.outside_parcels; n != 0) {
        text += format_text("%u parcel%s left out of the drawing: outside the district (%s)\n", n,
                            n == 1 ? " is" : "s are", named_lots(dataset.outside_lots, n).c_str());
    }
    if (const std::uint32_t n = dataset.unreadable_parcels; n != 0) {
        text +=
            format_text("%u parcel%s no shape: a point of %s could not be read (%s)\n", n, n == 1 ? " has" : "s have",
                        n == 1 ? "its outline" : "their outlines", named_lots(dataset.unreadable_lots, n).c_str());
    }
    return text.empty() ? text : message_text(text);
}

}  // namespace chizuvec
