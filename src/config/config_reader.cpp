// Reader of Chizuvec.ini: flat key=value lines, sections and ";" comments allowed, keys in any
// letter case, no defaults. Unknown keys and malformed lines are skipped without a word.
#include <exception>
#include <fstream>
#include <string>
#include <string_view>

#include "common/ascii.hpp"
#include "common/fixed_text.hpp"
#include "common/numbers.hpp"
#include "config/render_settings.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

using StoreValue = void (*)(RenderSettings&, std::string_view);

template <auto Member>
void store_unsigned(RenderSettings& settings, std::string_view value) {
    settings.*Member = parse_unsigned(value);
}

template <auto Member>
void store_decimal(RenderSettings& settings, std::string_view value) {
    settings.*Member = parse_decimal(value);
}

// Text longer than the field is cut at a character boundary; the boundary colour included.
template <auto Member>
void store_text(RenderSettings& settings, std::string_view value) {
    copy_text(settings.*Member, value);
}

// Only a side the writer knows (1 width, 2 height, 3 longer, 4 shorter) is kept; anything else
// present in the file falls back to the longer side.
void store_side_option(RenderSettings& settings, std::string_view value) {
    const std::uint32_t option = parse_unsigned(value);
    settings.svg_viewbox_side_option = option >= 1 && option <= 4 ? option : 3;
}

// "yes" in any letter case opens the drawing; every other value, "1" and "true" included, does not.
void store_flag(RenderSettings& settings, std::string_view value) {
    settings.shell_open_svg = equals_ignoring_ascii_case(value, "yes") ? 1 : 0;
}

struct SettingKey {
    std::string_view name;
    StoreValue store;
};

constexpr SettingKey kKeys[] = {
    {"svg_dpi", &store_unsigned<&RenderSettings::svg_dpi>},
    {"svg_viewbox_side_option", &store_side_option},
    {"svg_viewbox_length", &store_unsigned<&RenderSettings::svg_viewbox_length>},
    {"svg_viewbox_marginx", &store_unsigned<&RenderSettings::svg_viewbox_marginx>},
    {"svg_viewbox_marginy", &store_unsigned<&RenderSettings::svg_viewbox_marginy>},
    {"svg_boundary_line_width", &store_unsigned<&RenderSettings::svg_boundary_line_width>},
    {"svg_boundary_line_color", &store_text<&RenderSettings::svg_boundary_line_color>},
    {"svg_chiban_sp1", &store_text<&RenderSettings::svg_chiban_sp1>},
    {"svg_chiban_sp2", &store_text<&RenderSettings::svg_chiban_sp2>},
    {"svg_chiban_sp3", &store_text<&RenderSettings::svg_chiban_sp3>},
    {"svg_fill_color_viewbox", &store_text<&RenderSettings::svg_fill_color_viewbox>},
    {"svg_fill_color_sp1", &store_text<&RenderSettings::svg_fill_color_sp1>},
    {"svg_fill_color_sp2", &store_text<&RenderSettings::svg_fill_color_sp2>},
    {"svg_fill_color_sp3", &store_text<&RenderSettings::svg_fill_color_sp3>},
    {"svg_fill_color_hilite", &store_text<&RenderSettings::svg_fill_color_hilite>},
    {"svg_fill_color_common", &store_text<&RenderSettings::svg_fill_color_common>},
    {"svg_font_size_c1", &store_unsigned<&RenderSettings::svg_font_size_c1>},
    {"svg_font_size_c2", &store_unsigned<&RenderSettings::svg_font_size_c2>},
    {"svg_font_size_title", &store_unsigned<&RenderSettings::svg_font_size_title>},
    {"svg_font_size_source", &store_unsigned<&RenderSettings::svg_font_size_source>},
    {"svg_area_gt_c1", &store_decimal<&RenderSettings::svg_area_gt_c1>},
    {"svg_area_gt_c2", &store_decimal<&RenderSettings::svg_area_gt_c2>},
    {"svg_font_c", &store_text<&RenderSettings::svg_font_c>},
    {"svg_font_title", &store_text<&RenderSettings::svg_font_title>},
    {"svg_font_source", &store_text<&RenderSettings::svg_font_source>},
    {"svg_text_source", &store_text<&RenderSettings::svg_text_source>},
    {"shell_open_svg", &store_flag},
};

// The line up to its first carriage return, so CR LF files read like LF files.
std::string_view cut_at_carriage_return(std::string_view line) { return line.substr(0, line.find('\r')); }

// The line up to the first ";" outside double quotes. An unclosed quote protects the rest.
std::string_view cut_comment(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == ';' && !quoted) {
            return line.substr(0, i);
        }
    }
    return line;
}

// Only the space character is trailing padding; a tab may be meant.
std::string_view trim_trailing_spaces(std::string_view line) {
    std::size_t end = line.size();
    while (end > 0 && line[end - 1] == ' ') --end;
    return line.substr(0, end);
}

// Applies one line of the file to the settings; comments, sections and lines without "=" do nothing.
void apply_line(std::string_view line, RenderSettings& settings) {
    if (line.empty() || line.front() == ';' || line.front() == '[') return;
    line = trim_trailing_spaces(cut_comment(cut_at_carriage_return(line)));
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return;
    // The key is not trimmed: "svg_dpi =96" names no key.
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    for (const SettingKey& entry : kKeys) {
        if (equals_ignoring_ascii_case(key, entry.name)) {
            entry.store(settings, value);
            return;
        }
    }
}

}  // namespace

SettingsStatus read_render_settings(const std::string& path, RenderSettings& settings) {
    // A directory opens as a stream on some systems but has nothing to read.
    if (platform::is_directory(path)) return SettingsStatus::not_found;
    std::ifstream in(path, std::ios::binary);
    if (!in) return SettingsStatus::not_found;
    try {
        std::string line;
        bool first = true;
        while (std::getline(in, line)) {
            std::string_view view(line);
            if (first && view.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
                view.remove_prefix(kByteOrderMark.size());
            }
            first = false;
            apply_line(view, settings);
        }
    } catch (const std::exception&) {
        // A line too long to hold: the file cannot be read as settings.
        return SettingsStatus::not_found;
    }
    return in.bad() ? SettingsStatus::not_found : SettingsStatus::read;
}

}  // namespace chizuvec
