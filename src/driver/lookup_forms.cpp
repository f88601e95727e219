#include "driver/lookup_forms.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "common/ascii.hpp"
#include "common/fixed_text.hpp"
#include "common/lot_text.hpp"
#include "common/text_format.hpp"
#include "driver/display_name.hpp"
#include "driver/lot_report.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

constexpr std::size_t kSheetsShown = 20;
constexpr std::size_t kNearestShown = 5;

std::string loose_form(std::string_view text) {
    std::string buffer;
    std::string loose(normal_lot_text(text, buffer));
    for (char& c : loose) c = ascii_lower(c);
    return loose;
}

}  // namespace

std::vector<std::string> nearest_texts(const std::vector<std::string>& candidates, std::string_view wanted,
                                       std::size_t shown) {
    const std::string loose = loose_form(wanted);
    std::vector<std::pair<std::size_t, std::size_t>> ranked;  // distance, position
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        ranked.emplace_back(edit_distance(loose, loose_form(candidates[i])), i);
    }
    const std::size_t take = std::min(shown, ranked.size());
    std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(take), ranked.end());
    std::vector<std::string> nearest;
    for (std::size_t k = 0; k < take; ++k) nearest.push_back(candidates[ranked[k].second]);
    return nearest;
}

std::string missing_sheet_text(const MapDataset& dataset, std::string_view file_name, const std::string& map_no) {
    if (map_no.empty()) return {};
    const std::vector<std::string> numbers = sheet_map_numbers(dataset);
    if (std::find(numbers.begin(), numbers.end(), map_no) != numbers.end()) return {};
    for (const Parcel& parcel : dataset.parcels) {
        if (field_view(parcel.map_no) == map_no) return {};
    }
    const std::string wanted = platform::convert_code_page(map_no, platform::ansi_code_page(), platform::kCodePageUtf8);
    std::string text = format_text("** Error: no map sheet \"%s\" in %s: nothing was written\n",
                                   display_utf8(wanted).c_str(), display_utf8(file_name).c_str());
    if (!numbers.empty()) {
        std::vector<std::string> nearest;
        for (const std::string& n : nearest_texts(numbers, wanted, kNearestShown)) nearest.push_back(display_utf8(n));
        text += "Nearest map sheets: " + name_list(nearest, kNearestShown) + "\n";
    }
    return message_text(text) + map_sheets_text(dataset, file_name, map_no);
}

std::string matching_map_number(const MapDataset& dataset, const std::string& wanted) {
    if (wanted.empty()) return wanted;
    const std::vector<std::string> numbers = sheet_map_numbers(dataset);
    for (const std::string& n : numbers) {
        if (n == wanted) return wanted;
    }
    // The argument is in the code page of the command line; the sheets' numbers are UTF-8.
    const std::string loose =
        loose_form(platform::convert_code_page(wanted, platform::ansi_code_page(), platform::kCodePageUtf8));
    const std::string* match = nullptr;
    for (const std::string& n : numbers) {
        if (loose_form(n) != loose) continue;
        if (match != nullptr) return wanted;
        match = &n;
    }
    return match != nullptr ? *match : wanted;
}

std::string map_sheets_text(const MapDataset& dataset, std::string_view file_name, const std::string& map_no) {
    const std::vector<std::string> numbers = sheet_map_numbers(dataset);
    if (map_no.empty() || numbers.empty()) return {};
    for (const std::string& n : numbers) {
        if (n == map_no) return {};
    }
    std::vector<std::string> shown;
    for (const std::string& n : numbers) shown.push_back(display_utf8(n));
    // The sheets left unnamed are one command away.
    const std::string all = shown.size() > kSheetsShown
                                ? format_text(" (Chizuvec --sheets %s lists them all)", display_utf8(file_name).c_str())
                                : std::string();
    return message_text(format_text("Map sheets in %s: %s%s\n", display_utf8(file_name).c_str(),
                                    name_list(shown, kSheetsShown).c_str(), all.c_str()));
}

}  // namespace chizuvec
