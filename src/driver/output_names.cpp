#include "driver/output_names.hpp"

#include <algorithm>
#include <cstdio>

#include "common/ascii.hpp"
#include "common/utf8.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

constexpr std::string_view kDeviceNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                             "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                             "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};

// Letters whose lower case lies at a fixed distance: [first, last] maps to c + offset; with
// `alternate`, only every other code point from `first` (upper and lower case in pairs).
struct FoldRange {
    char32_t first;
    char32_t last;
    int offset;
    bool alternate;
};
constexpr FoldRange kFoldRanges[] = {
    {0x0041, 0x005A, 32, false}, {0x00C0, 0x00D6, 32, false},   {0x00D8, 0x00DE, 32, false},
    {0x0100, 0x012F, 1, true},   {0x0132, 0x0137, 1, true},     {0x0139, 0x0148, 1, true},
    {0x014A, 0x0177, 1, true},   {0x0178, 0x0178, -121, false}, {0x0179, 0x017E, 1, true},
    {0x0391, 0x03A1, 32, false}, {0x03A3, 0x03AB, 32, false},   {0x0400, 0x040F, 80, false},
    {0x0410, 0x042F, 32, false}, {0x0460, 0x0481, 1, true},     {0x048A, 0x04BF, 1, true},
    {0x0531, 0x0556, 48, false}, {0x1E00, 0x1E95, 1, true},     {0x1EA0, 0x1EFF, 1, true},
    {0x2160, 0x216F, 16, false}, {0x24B6, 0x24CF, 26, false},   {0xFF21, 0xFF3A, 32, false},
};

char32_t fold_code_point(char32_t c) {
    for (const FoldRange& r : kFoldRanges) {
        if (c < r.first || c > r.last) continue;
        if (r.alternate && (c - r.first) % 2 != 0) return c;
        return static_cast<char32_t>(static_cast<int>(c) + r.offset);
    }
    return c;
}

// `text` cut to at most `bytes` bytes, never inside a UTF-8 character.
std::string cut_to(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return std::string(text);
    std::size_t end = bytes;
    while (end > 0 && is_utf8_continuation(static_cast<unsigned char>(text[end]))) --end;
    return std::string(text.substr(0, end));
}

// `base` + `suffix` within `max_bytes`, the base cut as far as needed.
std::string with_suffix(std::string_view base, std::string_view suffix, std::size_t max_bytes) {
    const std::size_t room = max_bytes > suffix.size() ? max_bytes - suffix.size() : 0;
    std::string fitted = cut_to(base, room);
    fitted.append(suffix);
    return fitted;
}

}  // namespace

std::string file_name_safe(std::string_view text) {
    if (text.empty()) return "_";
    std::string safe(text);
    for (char& c : safe) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F || c == '<' || c == '>' || c == ':' || c == '"' || c == '/' || c == '\\' ||
            c == '|' || c == '?' || c == '*') {
            c = '_';
        }
    }
    return safe;
}

std::string portable_name(std::string_view name) {
    std::size_t head = std::min(name.find('.'), name.size());
    while (head > 0 && (name[head - 1] == ' ' || name[head - 1] == '.')) --head;
    for (const std::string_view device : kDeviceNames) {
        if (equals_ignoring_ascii_case(name.substr(0, head), device)) {
            std::string renamed(name.substr(0, head));
            renamed += '_';
            renamed.append(name.substr(head));
            return renamed;
        }
    }
    return std::string(name);
}

std::string fold_name_case(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const Utf8Char c = decode_utf8(name, i);
        if (c.well_formed) {
            append_utf8(out, fold_code_point(c.code_point));
        } else {
            out.append(name, i, c.length);
        }
        i += c.length;
    }
    return out;
}

OutputNames::OutputNames(std::size_t max_bytes, std::uint32_t code_page)
    : max_bytes_(max_bytes), code_page_(code_page) {}

std::string OutputNames::claim(const std::string& name) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return claim_locked(name);
}

std::vector<std::string> OutputNames::claim_in_turn(std::size_t index, const std::vector<std::string>& names) {
    std::unique_lock<std::mutex> lock(mutex_);
    turn_changed_.wait(lock, [&] { return turn_ == index; });
    // The turn ends however the claims end, so that the files after this one still get theirs.
    struct EndTurn {
        OutputNames& names;
        ~EndTurn() {
            ++names.turn_;
            names.turn_changed_.notify_all();
        }
    } end_turn{*this};
    std::vector<std::string> claimed;
    for (const std::string& name : names) claimed.push_back(claim_locked(name));
    return claimed;
}

void OutputNames::pass_turn(std::size_t index) { claim_in_turn(index, {}); }

std::string OutputNames::folded(const std::string& name) const {
    if (code_page_ == platform::kCodePageUtf8) return fold_name_case(name);
    return fold_name_case(platform::convert_code_page(name, code_page_, platform::kCodePageUtf8));
}

std::string OutputNames::claim_locked(const std::string& name) {
    std::string base = portable_name(name);
    if (base.size() > max_bytes_) {
        // FNV-1a of the whole name: names that differ only past the cut stay apart.
        std::uint32_t hash = 2166136261u;
        for (const char c : base) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        char tag[16];
        std::snprintf(tag, sizeof tag, "~%08x", static_cast<unsigned>(hash));
        base = with_suffix(base, tag, max_bytes_);
    }
    const std::string folded_base = folded(base);
    if (taken_.insert(folded_base).second) return base;
    // Each stem remembers how far its numbers have gone, so many files of one stem do not each
    // try every number before theirs.
    unsigned& n = next_suffix_.try_emplace(folded_base, 2).first->second;
    for (;; ++n) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "~%u", n);
        std::string candidate = with_suffix(base, suffix, max_bytes_);
        if (taken_.insert(folded(candidate)).second) {
            ++n;
            return candidate;
        }
    }
}

}  // namespace chizuvec
