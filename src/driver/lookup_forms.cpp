#include "driver/lookup_forms.hpp"

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

std::string loose_form(std::string_view text) {
    std::string buffer;
    std::string loose(normal_lot_text(text, buffer));
    for (char& c : loose) c = ascii_lower(c);
    return loose;
}

}  // namespace

std::string matching_map_number(const MapDataset& dataset, const std::string& wanted) {
    if (wanted.empty()) return wanted;
    const std::vector<std::string> numbers = listed_map_numbers(dataset);
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
    const std::vector<std::string> numbers = listed_map_numbers(dataset);
    if (map_no.empty() || numbers.empty()) return {};
    for (const std::string& n : numbers) {
        if (n == map_no) return {};
    }
    std::vector<std::string> shown;
    for (const std::string& n : numbers) shown.push_back(display_utf8(n));
    return message_text(
        format_text("Map sheets in %s: %s\n", display_utf8(file_name).c_str(), name_list(shown, kSheetsShown).c_str()));
}

}  // namespace chizuvec
