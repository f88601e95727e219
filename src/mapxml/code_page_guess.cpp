// Three recognisers (UTF-8, Shift_JIS, EUC-JP) read the string side by side; the first to be left
// alone wins at once, otherwise the best score among the survivors at the end.
#include "mapxml/code_page_guess.hpp"

#include <cstddef>
#include <cstring>
#include <initializer_list>

namespace chizuvec {
namespace {

constexpr int kAscii = 0;
constexpr int kIso2022Jp = 50222;
constexpr int kUtf16Le = 1200;
constexpr int kUtf16Be = 1201;
constexpr int kEucJp = 20932;
constexpr int kShiftJis = 932;
constexpr int kUtf8 = 65001;
constexpr int kNoCandidate = -1;

constexpr unsigned char kEsc = 27;

// One byte's effect on a recogniser: the next state (negative rejects) and the score factor.
struct Step {
    int next;
    double weight;
};

constexpr Step kReject{-1, 0.0};

bool in_range(unsigned char c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; }

// UTF-8: the state counts the continuation bytes still owed; lead bytes up to FD are accepted as
// the old six-byte form allowed them. Unlike common/utf8.hpp this only recognises: it must judge one
// byte at a time in step with the other two, and its looser answers (overlong forms and surrogates
// pass too) are the guesses archive names have always been read by.
Step utf8_step(int state, unsigned char c) {
    if (state == 0) {
        if (c <= 0x7F) return {0, 1.0};
        if (in_range(c, 0xC2, 0xDF)) return {1, 1.0};
        if (in_range(c, 0xE0, 0xEF)) return {2, 1.0};
        if (in_range(c, 0xF0, 0xF7)) return {3, 1.0};
        if (in_range(c, 0xF8, 0xFB)) return {4, 1.0};
        if (in_range(c, 0xFC, 0xFD)) return {5, 1.0};
        return kReject;
    }
    if (in_range(c, 0x80, 0xBF)) return {state - 1, 1.0};
    return kReject;
}

// Shift_JIS: state 1 waits for the trail byte of a double-byte character. Half-width katakana and
// the user-defined lead bytes are legal but rarer, so they lower the score.
Step shift_jis_step(int state, unsigned char c) {
    if (state == 0) {
        if (c <= 0x7F) return {0, 1.0};
        if (in_range(c, 0x81, 0x9F) || in_range(c, 0xE1, 0xEF)) return {1, 1.0};
        if (in_range(c, 0xA1, 0xDF)) return {0, 0.8};
        if (in_range(c, 0xF0, 0xFC)) return {1, 0.95};
        if (in_range(c, 0xFD, 0xFF)) return {0, 0.8};
        return kReject;
    }
    if (in_range(c, 0x40, 0x7E) || in_range(c, 0x80, 0xFC)) return {0, 1.0};
    return kReject;
}

// EUC-JP: 8E introduces a half-width katakana (state 1), 8F a JIS X 0212 character (state 3, one
// more byte), A1-FE a JIS X 0208 character (state 2).
Step euc_jp_step(int state, unsigned char c) {
    switch (state) {
        case 0:
            if (c <= 0x7F) return {0, 1.0};
            if (c == 0x8E) return {1, 0.8};
            if (c == 0x8F) return {3, 0.95};
            if (in_range(c, 0xA1, 0xFE)) return {2, 1.0};
            return kReject;
        case 1:
            if (in_range(c, 0xA1, 0xDF)) return {0, 1.0};
            return kReject;
        default:
            if (in_range(c, 0xA1, 0xFE)) return {0, 1.0};
            return kReject;
    }
}

struct Recogniser {
    Step (*step)(int, unsigned char);
    int code_page;
    int state = 0;
    double score = 1.0;
    bool alive() const { return state >= 0; }
    void feed(unsigned char c) {
        const Step s = step(state, c);
        state = s.next;
        if (s.next >= 0) score *= s.weight;
    }
};

bool is_plain_text_byte(unsigned char c) { return c == 9 || c == 10 || c == 13 || (c >= 32 && c <= 126); }

}  // namespace

int guess_code_page(const char* text) {
    if (text == nullptr) return kAscii;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const std::size_t n = std::strlen(text);
    bool plain = true;
    for (std::size_t i = 0; i < n && plain; ++i) plain = is_plain_text_byte(bytes[i]);
    if (plain) return kAscii;

    Recogniser utf8{utf8_step, kUtf8};
    Recogniser sjis{shift_jis_step, kShiftJis};
    Recogniser euc{euc_jp_step, kEucJp};

    for (std::size_t p = 0; p < n; ++p) {
        // An escape sequence that switches character sets means ISO-2022-JP; after any other ESC
        // only the byte that follows it is judged.
        if (bytes[p] == kEsc && p + 1 < n) {
            ++p;
            if (bytes[p] == '$' || bytes[p] == '(') return kIso2022Jp;
        }
        if (p == 0 && n >= 2) {
            if (bytes[0] == 0xFF && bytes[1] == 0xFE) return kUtf16Le;
            if (bytes[0] == 0xFE && bytes[1] == 0xFF) return kUtf16Be;
        }
        const unsigned char c = bytes[p];
        // Each test sees the states as they stand, including a recogniser fed just before.
        if (euc.alive()) {
            if (!sjis.alive() && !utf8.alive()) return kEucJp;
            euc.feed(c);
        }
        if (sjis.alive()) {
            if (!euc.alive() && !utf8.alive()) return kShiftJis;
            sjis.feed(c);
        }
        if (utf8.alive()) {
            if (!sjis.alive() && !euc.alive()) return kUtf8;
            utf8.feed(c);
        }
        if (!utf8.alive() && !sjis.alive() && !euc.alive()) return kNoCandidate;
    }

    // Survivors in tie-break order; a recogniser in the middle of a sequence still counts.
    const Recogniser* best = nullptr;
    for (const Recogniser* r : {&utf8, &sjis, &euc}) {
        if (r->alive() && (best == nullptr || r->score > best->score)) best = r;
    }
    return best == nullptr ? kNoCandidate : best->code_page;
}

}  // namespace chizuvec
