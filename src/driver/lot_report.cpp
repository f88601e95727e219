#include "driver/lot_report.hpp"

#include <algorithm>
#include <set>

#include "common/fixed_text.hpp"
#include "common/lot_text.hpp"
#include "common/text_format.hpp"
#include "driver/display_name.hpp"

namespace chizuvec {
namespace {

constexpr std::size_t kAreasShown = 10;

}  // namespace

std::vector<LotFinding> find_lots(const MapDataset& dataset, const std::vector<std::string>& keys) {
    std::vector<LotFinding> findings(keys.size());
    // Key positions sorted by normal form, so that each parcel name is looked up once.
    std::vector<std::string> normal(keys.size());
    std::string buffer;
    std::vector<std::size_t> order(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        normal[i] = normal_lot_text(keys[i], buffer);
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return normal[a] < normal[b]; });
    const auto matching = [&](std::string_view name, auto each) {
        auto it = std::lower_bound(order.begin(), order.end(), name,
                                   [&](std::size_t i, std::string_view n) { return std::string_view(normal[i]) < n; });
        for (; it != order.end() && normal[*it] == name; ++it) each(findings[*it]);
    };
    std::string chiban_buffer;
    std::string joined_buffer;
    std::string joined;
    for (const Parcel& parcel : dataset.parcels) {
        const std::string_view address = field_view(parcel.address);
        const std::string_view chiban = field_view(parcel.chiban);
        const std::string_view sheet = field_view(parcel.map_no);
        const auto found = [&](LotFinding& f) {
            f.found = true;
            f.drawn = f.drawn || parcel.selected;
            if (!sheet.empty() && std::find(f.sheets.begin(), f.sheets.end(), sheet) == f.sheets.end()) {
                f.sheets.emplace_back(sheet);
            }
        };
        matching(normal_lot_text(chiban, chiban_buffer), [&](LotFinding& f) {
            found(f);
            if (std::find(f.areas.begin(), f.areas.end(), address) == f.areas.end()) f.areas.emplace_back(address);
        });
        joined.assign(address).append(chiban);
        matching(normal_lot_text(joined, joined_buffer), found);
    }
    return findings;
}

std::string name_list(const std::vector<std::string>& names, std::size_t shown) {
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i) {
        if (i > 0) text += ", ";
        text += names[i];
    }
    if (names.size() > shown) append_format(text, ", and %zu more", names.size() - shown);
    return text;
}

std::string lot_warnings_text(const MapDataset& dataset, const std::vector<std::string>& keys,
                              const std::vector<std::string>& arguments, std::string_view file_name,
                              const std::vector<std::string>& skipped, std::string_view map_no) {
    const std::vector<LotFinding> findings = find_lots(dataset, keys);
    // Each lot once, by its normal form: ２６-１ and 26-1 are one lot typed two ways.
    std::string buffer;
    std::set<std::string> told;
    for (const std::string& name : skipped) told.emplace(normal_lot_text(name, buffer));
    std::string text;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        // An empty argument names no lot to look for.
        // By the key, which is UTF-8 on every platform: the argument is in the locale's code page.
        if (arguments[k].empty() || !told.emplace(normal_lot_text(keys[k], buffer)).second) continue;
        const LotFinding& f = findings[k];
        if (!f.found) {
            text += message_text(format_text("**Warning: lot \"%s\" not found in %s\n",
                                             display_utf8(arguments[k]).c_str(), display_utf8(file_name).c_str()));
        } else if (!map_no.empty() && !f.drawn) {
            std::vector<std::string> sheets;
            for (const std::string& sheet : f.sheets) sheets.push_back(display_utf8(sheet));
            text += message_text(format_text("**Warning: lot \"%s\" is on sheet %s, not %s\n",
                                             display_utf8(arguments[k]).c_str(), name_list(sheets, kAreasShown).c_str(),
                                             display_utf8(map_no).c_str()));
        } else if (f.areas.size() > 1) {
            std::vector<std::string> areas;
            for (const std::string& area : f.areas) areas.push_back(display_utf8(area));
            text += message_text(format_text("**Warning: lot \"%s\" is in %zu 地番区域: %s\n",
                                             display_utf8(arguments[k]).c_str(), f.areas.size(),
                                             name_list(areas, kAreasShown).c_str()));
        }
    }
    return text;
}

}  // namespace chizuvec
