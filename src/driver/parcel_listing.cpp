#include "driver/parcel_listing.hpp"

#include <cstdio>
#include <string>

#include "common/fixed_text.hpp"
#include "common/text_format.hpp"
#include "common/utf8.hpp"
#include "driver/console.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

// Fixed texts of the header, in UTF-8; they go to the console in the ANSI code page.
constexpr std::string_view kMapNameLabel = " 地図名：";
constexpr std::string_view kOpenParen = "（";
constexpr std::string_view kColumnTitles = "）\n   No 筆ID 形状ID 地図番号  大字名・丁目名  地番      ";
constexpr std::string_view kAreaUnknownUnit = "面積(単位不明)\n";
constexpr std::string_view kAreaTitle = "　　　　　面積\n";
constexpr std::string_view kSheetColumnTitles = "）\n地図番号    縮尺分母  筆数 地図分類\n";

constexpr std::size_t kAddressWidth = 16;
constexpr std::size_t kChibanWidth = 16;
constexpr std::size_t kMapNoWidth = 10;

struct WideRange {
    char32_t first;
    char32_t last;
};

// East Asian Wide and Fullwidth characters: two columns on a terminal.
constexpr WideRange kWideRanges[] = {
    {0x1100, 0x115F},   {0x2329, 0x232A},   {0x2E80, 0x303E},   {0x3040, 0xA4CF},   {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
    {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool is_wide(char32_t c) {
    for (const WideRange& range : kWideRanges) {
        if (c < range.first) return false;
        if (c <= range.last) return true;
    }
    return false;
}

// Columns that UTF-8 text takes on a terminal. A byte that does not start a well-formed character
// counts as one column of its own.
std::size_t utf8_display_width(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decode_utf8(text, i);
        if (c.well_formed) {
            width += is_wide(c.code_point) ? 2 : 1;
            i += c.length;
        } else {
            width += 1;
            i += 1;
        }
    }
    return width;
}

// Map texts and file names may hold control bytes (an ESC would steer the terminal); they are shown
// as "?". Such bytes never occur inside a character of UTF-8 or of the double-byte code pages.
std::string printable(std::string_view text) {
    std::string shown(text);
    for (char& c : shown) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t') || b == 0x7F) c = '?';
    }
    return shown;
}

// Appends `text` left-aligned in a column of at least `width`: display columns when the ANSI code
// page is UTF-8, bytes otherwise (in Shift_JIS a wide character is two bytes, so bytes line up).
void append_padded(std::string& line, std::string_view text, std::size_t width, bool utf8) {
    line.append(text);
    const std::size_t used = utf8 ? utf8_display_width(text) : text.size();
    if (used < width) line.append(width - used, ' ');
}

// The head line shared by both listings: input path, map name and coordinate system, then `titles`.
std::string listing_head(std::uint32_t ansi_code_page, std::string_view input_path, std::string_view map_name,
                         std::string_view coord_system, std::string_view titles) {
    const auto to_ansi = [&](std::string_view text) {
        return platform::convert_code_page(text, platform::kCodePageUtf8, ansi_code_page);
    };
    std::string line = printable(input_path);
    line += to_ansi(kMapNameLabel);
    line += to_ansi(printable(map_name));
    line += to_ansi(kOpenParen);
    line += to_ansi(printable(coord_system));
    line += to_ansi(titles);
    return line;
}

}  // namespace

void print_parcel_listing(const MapDataset& dataset, std::uint32_t console_code_page, std::uint32_t ansi_code_page,
                          std::string_view input_path, std::string_view map_name, std::string_view coord_system,
                          std::FILE* out) {
    std::string text;
    append_parcel_listing(text, dataset, console_code_page, ansi_code_page, input_path, map_name, coord_system);
    std::fwrite(text.data(), 1, text.size(), out);
}

void append_parcel_listing(std::string& out, const MapDataset& dataset, std::uint32_t console_code_page,
                           std::uint32_t ansi_code_page, std::string_view input_path, std::string_view map_name,
                           std::string_view coord_system) {
    const bool utf8 = ansi_code_page == platform::kCodePageUtf8;
    const auto to_ansi = [&](std::string_view text) {
        return platform::convert_code_page(text, platform::kCodePageUtf8, ansi_code_page);
    };
    const auto value_in_ansi = [&](std::string_view text) { return to_ansi(printable(text)); };

    std::string titles(kColumnTitles);
    titles += coord_system == kArbitraryCoordSystem ? kAreaUnknownUnit : kAreaTitle;
    std::string line = listing_head(ansi_code_page, input_path, map_name, coord_system, titles);
    out += console_text(line, console_code_page, ansi_code_page);

    std::uint32_t number = 0;
    for (const Parcel& parcel : dataset.parcels) {
        ++number;
        line.clear();
        append_format(line, "%5d%5d%7d ", as_printf_int(number), as_printf_int(parcel.id_no),
                      as_printf_int(parcel.shape_no));
        // The map number keeps its stored bytes.
        append_padded(line, printable(field_view(parcel.map_no)), kMapNoWidth, utf8);
        append_padded(line, value_in_ansi(field_view(parcel.address)), kAddressWidth, utf8);
        append_padded(line, value_in_ansi(field_view(parcel.chiban)), kChibanWidth, utf8);
        append_format(line, "%8.1f\n", parcel.area);
        out += console_text(line, console_code_page, ansi_code_page);
    }
}

void append_sheet_listing(std::string& out, const MapDataset& dataset, std::uint32_t console_code_page,
                          std::uint32_t ansi_code_page, std::string_view input_path, std::string_view map_name,
                          std::string_view coord_system) {
    const bool utf8 = ansi_code_page == platform::kCodePageUtf8;
    const auto value_in_ansi = [&](std::string_view text) {
        return platform::convert_code_page(printable(text), platform::kCodePageUtf8, ansi_code_page);
    };
    std::string line = listing_head(ansi_code_page, input_path, map_name, coord_system, kSheetColumnTitles);
    out += console_text(line, console_code_page, ansi_code_page);
    for (const SheetDetail& sheet : dataset.gis.sheets) {
        line.clear();
        append_padded(line, printable(sheet.map_no), kMapNoWidth, utf8);
        if (sheet.scale_denominator != 0) {
            append_format(line, "%10u", sheet.scale_denominator);
        } else {
            line += "         -";
        }
        append_format(line, "%6u ", sheet.parcels);
        line += sheet.has(SheetText::classification) ? value_in_ansi(sheet.text(SheetText::classification)) : "-";
        line += '\n';
        out += console_text(line, console_code_page, ansi_code_page);
    }
}

}  // namespace chizuvec
