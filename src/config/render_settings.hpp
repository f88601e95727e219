// The settings of the drawing, read once from Chizuvec.ini beside the executable. Each field bears
// the name of its key; a key the file does not set leaves 0 or the empty text.
#pragma once

#include <cstdint>
#include <string>

namespace chizuvec {

struct RenderSettings {
    std::int32_t shell_open_svg = 0;
    std::uint32_t svg_dpi = 0;
    std::uint32_t svg_viewbox_side_option = 0;
    std::uint32_t svg_viewbox_length = 0;
    std::uint32_t svg_viewbox_marginx = 0;
    std::uint32_t svg_viewbox_marginy = 0;
    std::uint32_t svg_boundary_line_width = 0;
    char svg_boundary_line_color[32] = {};
    char svg_chiban_sp1[16] = {};
    char svg_chiban_sp2[16] = {};
    char svg_chiban_sp3[16] = {};
    char svg_fill_color_viewbox[32] = {};
    char svg_fill_color_sp1[32] = {};
    char svg_fill_color_sp2[32] = {};
    char svg_fill_color_sp3[32] = {};
    char svg_fill_color_hilite[32] = {};
    char svg_fill_color_common[32] = {};
    double svg_area_gt_c1 = 0.0;
    double svg_area_gt_c2 = 0.0;
    char svg_font_c[64] = {};
    char svg_font_title[64] = {};
    char svg_font_source[64] = {};
    std::uint32_t svg_font_size_c1 = 0;
    std::uint32_t svg_font_size_c2 = 0;
    std::uint32_t svg_font_size_title = 0;
    std::uint32_t svg_font_size_source = 0;
    char svg_text_source[256] = {};
};

enum class SettingsStatus {
    read,
    not_found,  // the file cannot be opened or read
};

// Reads the key=value file at `path` into `settings`, which the caller has cleared.
SettingsStatus read_render_settings(const std::string& path, RenderSettings& settings);

}  // namespace chizuvec
