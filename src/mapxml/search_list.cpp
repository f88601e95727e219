#include "mapxml/search_list.hpp"

#include <algorithm>
#include <unordered_map>

#include "common/ascii.hpp"
#include "common/lot_text.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kZipExtension = ".zip";

// Splits `text` into rows of fields: commas separate, quotes enclose (a quoted field may hold
// commas, line ends and "" for a quote), CR LF or LF ends a row. Calls `row` for each non-empty row.
template <typename RowFunction>
void split_rows(std::string_view text, RowFunction row) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    bool any = false;  // the row has any byte
    const auto end_row = [&] {
        if (any) {
            fields.push_back(std::move(field));
            row(fields);
        }
        fields.clear();
        field.clear();
        any = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
            continue;
        }
        if (c == '\n') {
            end_row();
            continue;
        }
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        any = true;
        if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else {
            field += c;
        }
    }
    end_row();
}

bool is_zip_name(std::string_view name) {
    return name.size() > kZipExtension.size() &&
           equals_ignoring_ascii_case(name.substr(name.size() - kZipExtension.size()), kZipExtension);
}

}  // namespace

void SearchList::add_row(const std::vector<std::string>& fields, FileNumbers& file_numbers, FileNumbers& area_numbers) {
    if (fields.size() < 4 || !is_zip_name(fields[0]) || fields[3].empty() || keys_.size() > UINT32_MAX / 2) {
        ++skipped_;
        return;
    }
    // Files are interned by a hash, so a list of many files stays linear.
    const auto [known, added] = file_numbers.emplace(fields[0], static_cast<std::uint32_t>(files_.size()));
    if (added) files_.push_back(fields[0]);
    const std::uint32_t file = known->second;
    const auto [known_area, new_area] = area_numbers.emplace(fields[2], static_cast<std::uint32_t>(areas_.size()));
    if (new_area) areas_.push_back(fields[2]);
    const std::uint32_t area = known_area->second;
    const auto row = static_cast<std::uint32_t>(rows_++);
    std::string joined;
    std::string buffer;
    const auto add_key = [&](std::string_view a, std::string_view b) {
        const auto offset = static_cast<std::uint32_t>(keys_.size());
        joined.assign(a).append(b);
        const std::string_view normal = normal_lot_text(joined, buffer);
        keys_.append(normal);
        index_.push_back(Key{offset, static_cast<std::uint32_t>(normal.size()), file, row, area, b.empty()});
    };
    add_key(fields[3], {});
    if (!fields[2].empty()) add_key(fields[2], fields[3]);
}

void SearchList::parse(std::string_view stored) {
    *this = SearchList{};
    std::string text;
    if (stored.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        text = stored.substr(kUtf8Bom.size());
    } else {
        text = platform::convert_code_page(stored, platform::kCodePageShiftJis, platform::kCodePageUtf8);
    }
    FileNumbers file_numbers;
    FileNumbers area_numbers;
    split_rows(text, [&](const std::vector<std::string>& fields) { add_row(fields, file_numbers, area_numbers); });
    std::stable_sort(index_.begin(), index_.end(), [this](const Key& a, const Key& b) {
        const int order = key_text(a).compare(key_text(b));
        return order != 0 ? order < 0 : a.row < b.row;
    });
}

std::pair<std::vector<SearchList::Key>::const_iterator, std::vector<SearchList::Key>::const_iterator>
SearchList::matching(std::string_view typed) const {
    std::string buffer;
    const std::string_view key = normal_lot_text(typed, buffer);
    const auto first = std::lower_bound(index_.begin(), index_.end(), key,
                                        [this](const Key& k, std::string_view text) { return key_text(k) < text; });
    auto last = first;
    while (last != index_.end() && key_text(*last) == key) ++last;
    return {first, last};
}

std::vector<std::string_view> SearchList::files_of(std::string_view key) const {
    std::vector<std::string_view> found;
    const auto [first, last] = matching(key);
    for (auto it = first; it != last; ++it) found.emplace_back(files_[it->file]);
    return found;
}

std::vector<SearchList::Place> SearchList::places_of(std::string_view key) const {
    std::vector<Place> found;
    const auto [first, last] = matching(key);
    for (auto it = first; it != last; ++it) found.push_back(Place{files_[it->file], areas_[it->area], it->lot_only});
    return found;
}

}  // namespace chizuvec
