#include "driver/output_names.hpp"

#include "common/ascii.hpp"

namespace chizuvec {

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

std::string OutputNames::claim_locked(const std::string& name) {
    const auto folded = [](std::string text) {
        for (char& c : text) c = ascii_lower(c);
        return text;
    };
    std::string candidate = name;
    for (unsigned n = 2; !taken_.insert(folded(candidate)).second; ++n) {
        candidate = name + "~" + std::to_string(n);
    }
    return candidate;
}

}  // namespace chizuvec
