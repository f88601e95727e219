// Text measurement for the source line: fontconfig picks the font file that best matches the face
// (its best match stands in when the face is not installed), FreeType sums the advance widths.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <string>
#include <vector>

#include "common/sanitizer.hpp"
#include "common/utf8.hpp"
#include "platform/platform.hpp"

namespace chizuvec::platform {
namespace {

// The font file and face index fontconfig chooses for a family name.
bool find_font_file(std::string_view face, std::string& file, int& index) {
    static const bool initialised = FcInit() == FcTrue;
    if (!initialised) return false;
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) return false;
    // The family goes in as one value, so names with "-" or ":" are not read as pattern syntax.
    const std::string family(face);
    if (!family.empty()) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) return false;
    FcChar8* path = nullptr;
    const bool found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path != nullptr;
    if (found) file = reinterpret_cast<const char*>(path);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
    FcPatternDestroy(match);
    return found;
}

long round_26_6(FT_Pos value) { return static_cast<long>((value + 32) >> 6); }

// Typographic ascent plus descent in 26.6 pixels at the face's current size.
FT_Pos ascent_plus_descent(FT_Face face) {
    if (!FT_IS_SCALABLE(face)) return face->size->metrics.ascender - face->size->metrics.descender;
    FT_Long units = face->ascender - face->descender;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 != nullptr && os2->version != 0xFFFF && os2->sTypoAscender - os2->sTypoDescender > 0) {
        units = os2->sTypoAscender - os2->sTypoDescender;
    }
    return FT_MulFix(units, face->size->metrics.y_scale);
}

FT_Pos sum_advances(FT_Face face, std::string_view text) {
    FT_Pos total = 0;
    FT_UInt previous = 0;
    const bool kerning = FT_HAS_KERNING(face);
    for (std::size_t pos = 0; pos < text.size();) {
        // An ill-formed sequence measures as the U+FFFD it is drawn as.
        const Utf8Char c = decode_utf8(text, pos);
        pos += c.length;
        const FT_UInt glyph = FT_Get_Char_Index(face, c.code_point);
        if (kerning && previous != 0 && glyph != 0) {
            FT_Vector delta{};
            if (FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &delta) == 0) total += delta.x;
        }
        if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT) == 0) total += face->glyph->advance.x;
        previous = glyph;
    }
    return total;
}

// The faces a thread has opened, by the family name asked for: finding and opening a font costs far
// more than measuring with it, and a drawing measures with the same few faces as the one before.
// FreeType objects are not shared between threads, so each thread keeps its own.
class OpenFaces {
  public:
    OpenFaces() = default;
    OpenFaces(const OpenFaces&) = delete;
    OpenFaces& operator=(const OpenFaces&) = delete;
    ~OpenFaces() {
        for (Entry& entry : entries_) {
            if (entry.face != nullptr) FT_Done_Face(entry.face);
        }
        if (library_ != nullptr) FT_Done_FreeType(library_);
    }

    // The face for a family name, opened once per thread; null when no font file can be opened.
    // A name that failed is not tried again.
    FT_Face face(std::string_view family) {
        for (const Entry& entry : entries_) {
            if (entry.family == family) return entry.face;
        }
        if (library_ == nullptr && FT_Init_FreeType(&library_) != 0) {
            library_ = nullptr;
            return nullptr;
        }
        std::string file;
        int index = 0;
        FT_Face opened = nullptr;
        if (find_font_file(family, file, index) && FT_New_Face(library_, file.c_str(), index, &opened) != 0) {
            opened = nullptr;
        }
        // The names come from the settings, so a thread meets a handful; the bound is for safety.
        if (entries_.size() == kMaxFaces) {
            if (entries_.front().face != nullptr) FT_Done_Face(entries_.front().face);
            entries_.erase(entries_.begin());
        }
        entries_.push_back(Entry{std::string(family), opened});
        return opened;
    }

  private:
    static constexpr std::size_t kMaxFaces = 8;
    struct Entry {
        std::string family;
        FT_Face face = nullptr;
    };
    FT_Library library_ = nullptr;
    std::vector<Entry> entries_;
};

thread_local OpenFaces open_faces;

}  // namespace

bool measure_text(std::string_view text, std::string_view face, std::uint32_t pixel_size, TextExtent& extent) {
    extent = TextExtent{};
    FT_Face ft_face = open_faces.face(face);
    if (ft_face == nullptr) return false;
    // A bitmap-only face may not offer the size; it then measures as nothing.
    if (pixel_size > 0 && FT_Set_Pixel_Sizes(ft_face, 0, pixel_size) == 0) {
        extent.advance = round_26_6(sum_advances(ft_face, text));
        extent.ascent_plus_descent = round_26_6(ascent_plus_descent(ft_face));
    }
    return true;
}

}  // namespace chizuvec::platform

#if defined(CHIZUVEC_ADDRESS_CHECKED)
// fontconfig keeps part of its parsed configuration unreachable for the life of the process; that
// is its own one-time cost, not a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
