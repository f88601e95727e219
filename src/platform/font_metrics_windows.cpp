// Text measurement for the source line with GDI: the font the system maps the face to at the given
// character cell height, the text's extent in it, and the outline metrics for the scaling.
#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace chizuvec::platform {
namespace {

// UTF-8 to UTF-16; malformed bytes become U+FFFD.
std::wstring widen_utf8(std::string_view text) {
    if (text.empty() || text.size() > 0x7FFFFFFF) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

// A memory device context compatible with the screen: the same font mapping and pixels as the
// screen's own, without asking for the desktop window (which a service or Wine without a display
// may not have, and which Wine starts a process for). Each thread keeps one, with the fonts it has
// made by face and height: creating them again for every drawing costs more than measuring.
class MeasuringDc {
  public:
    MeasuringDc() = default;
    MeasuringDc(const MeasuringDc&) = delete;
    MeasuringDc& operator=(const MeasuringDc&) = delete;
    ~MeasuringDc() {
        if (dc_ != nullptr) SelectObject(dc_, original_);
        for (Entry& entry : fonts_) DeleteObject(entry.font);
        if (dc_ != nullptr) DeleteDC(dc_);
    }

    // The context with the font of `face` at `height` selected; null when either cannot be made.
    HDC select(const std::wstring& face, int height) {
        if (dc_ == nullptr) dc_ = CreateCompatibleDC(nullptr);
        if (dc_ == nullptr) return nullptr;
        HFONT font = nullptr;
        for (const Entry& entry : fonts_) {
            if (entry.height == height && entry.face == face) font = entry.font;
        }
        if (font == nullptr) {
            // A positive height asks for the character cell height; the Shift_JIS character set
            // makes the mapper prefer a Japanese font when the face is not installed.
            font = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
            if (font == nullptr) return nullptr;
            if (fonts_.size() == kMaxFonts) {
                SelectObject(dc_, font);
                DeleteObject(fonts_.front().font);
                fonts_.erase(fonts_.begin());
            }
            fonts_.push_back(Entry{face, height, font});
        }
        HGDIOBJ previous = SelectObject(dc_, font);
        if (original_ == nullptr) original_ = previous;
        return dc_;
    }

  private:
    // A drawing measures with two or three faces and sizes; the bound is for safety.
    static constexpr std::size_t kMaxFonts = 16;
    struct Entry {
        std::wstring face;
        int height = 0;
        HFONT font = nullptr;
    };
    HDC dc_ = nullptr;
    HGDIOBJ original_ = nullptr;  // the context's own font, selected back before any is deleted
    std::vector<Entry> fonts_;
};

// Each thread's context lives in fiber-local storage, freed by its callback as the thread ends. A
// thread_local object with a destructor is not safe here: MinGW may free its storage before the
// destructor runs, which then crashes the ending thread now and then.
void NTAPI free_measuring(void* dc) { delete static_cast<MeasuringDc*>(dc); }

MeasuringDc* thread_measuring() {
    static const DWORD slot = FlsAlloc(free_measuring);
    if (slot == FLS_OUT_OF_INDEXES) return nullptr;
    auto* dc = static_cast<MeasuringDc*>(FlsGetValue(slot));
    if (dc != nullptr) return dc;
    dc = new (std::nothrow) MeasuringDc;
    if (dc != nullptr && !FlsSetValue(slot, dc)) {
        delete dc;
        return nullptr;
    }
    return dc;
}

}  // namespace

bool measure_text(std::string_view text, std::string_view face, std::uint32_t pixel_size, TextExtent& extent) {
    extent = TextExtent{};
    // The wide calls keep every character of the text and the face, whatever the ANSI code page.
    const std::wstring wide_text = widen_utf8(text);
    std::wstring wide_face = widen_utf8(face);
    if (wide_face.size() >= LF_FACESIZE) wide_face.resize(LF_FACESIZE - 1);
    const int height = static_cast<int>(pixel_size > 0x7FFF ? 0x7FFF : pixel_size);
    MeasuringDc* const measuring = thread_measuring();
    if (measuring == nullptr) return false;
    const HDC dc = measuring->select(wide_face, height);
    if (dc == nullptr) return false;
    if (pixel_size > 0) {
        SIZE size{};
        if (!wide_text.empty() &&
            GetTextExtentPoint32W(dc, wide_text.data(), static_cast<int>(wide_text.size()), &size)) {
            extent.advance = size.cx;
        }
        const UINT needed = GetOutlineTextMetricsW(dc, 0, nullptr);
        if (needed >= sizeof(OUTLINETEXTMETRICW)) {
            std::vector<unsigned char> buffer(needed);
            auto* metrics = reinterpret_cast<OUTLINETEXTMETRICW*>(buffer.data());
            if (GetOutlineTextMetricsW(dc, needed, metrics) != 0) {
                extent.ascent_plus_descent = metrics->otmAscent - metrics->otmDescent;
            }
        }
    }
    return true;
}

}  // namespace chizuvec::platform
