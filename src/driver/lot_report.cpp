#include "driver/lot_report.hpp"

#include <algorithm>
#include <cstdint>
#include <set>
#include <unordered_map>

#include "common/fixed_text.hpp"
#include "common/lot_text.hpp"
#include "common/text_format.hpp"
#include "driver/display_name.hpp"

namespace chizuvec {
namespace {

constexpr std::size_t kAreasShown = 10;
constexpr std::size_t kNearestLotsShown = 5;

bool lot_number_byte(char c) { return static_cast<unsigned char>(c) < 0x80 && c != ' '; }

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

std::vector<std::string> nearest_lots(const MapDataset& dataset, std::string_view key, std::size_t shown) {
    std::string key_buffer;
    const std::string normal_key(normal_lot_text(key, key_buffer));
    std::size_t lot_at = normal_key.size();
    while (lot_at > 0 && lot_number_byte(normal_key[lot_at - 1])) --lot_at;
    const std::string_view area_part = std::string_view(normal_key).substr(0, lot_at);
    const std::string_view lot_part = std::string_view(normal_key).substr(lot_at);
    std::unordered_map<std::string_view, std::size_t> area_distance;  // by the parcel's address as stored
    struct Ranked {
        std::size_t distance;
        std::uint32_t parcel;
        bool with_area;
        bool operator<(const Ranked& o) const {
            return distance != o.distance ? distance < o.distance : parcel < o.parcel;
        }
    };
    std::vector<Ranked> ranked;
    ranked.reserve(dataset.parcels.size());
    std::string buffer;
    for (std::size_t p = 0; p < dataset.parcels.size(); ++p) {
        const Parcel& parcel = dataset.parcels[p];
        const std::string_view chiban = normal_lot_text(field_view(parcel.chiban), buffer);
        if (chiban.empty()) continue;
        Ranked r{edit_distance(normal_key, chiban), static_cast<std::uint32_t>(p), false};
        if (!area_part.empty()) {
            const std::size_t lot = edit_distance(lot_part, chiban);
            const std::string_view address = field_view(parcel.address);
            auto it = area_distance.find(address);
            if (it == area_distance.end()) {
                std::string area_buffer;
                it = area_distance.emplace(address, edit_distance(area_part, normal_lot_text(address, area_buffer)))
                         .first;
            }
            if (lot + it->second < r.distance) r = {lot + it->second, r.parcel, true};
        }
        ranked.push_back(r);
    }
    std::sort(ranked.begin(), ranked.end());
    std::vector<std::string> nearest;
    for (const Ranked& r : ranked) {
        if (nearest.size() == shown) break;
        const Parcel& parcel = dataset.parcels[r.parcel];
        std::string name = r.with_area ? std::string(field_view(parcel.address)) : std::string();
        name += field_view(parcel.chiban);
        if (std::find(nearest.begin(), nearest.end(), name) == nearest.end()) nearest.push_back(std::move(name));
    }
    return nearest;
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
            std::string warning = format_text("**Warning: lot \"%s\" not found in %s\n",
                                              display_utf8(arguments[k]).c_str(), display_utf8(file_name).c_str());
            std::vector<std::string> nearest;
            for (const std::string& lot : nearest_lots(dataset, keys[k], kNearestLotsShown)) {
                nearest.push_back(display_utf8(lot));
            }
            if (!nearest.empty()) warning += "Nearest lots: " + name_list(nearest, kNearestLotsShown) + "\n";
            text += message_text(warning);
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
