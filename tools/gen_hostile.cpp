// chizuvec_genhostile: writes an input shaped to make a run's time or memory grow faster than its
// size, for the benchmark that measures the growth (bench/hostile_growth.sh).
//   chizuvec_genhostile ATTACK N OUT
// ATTACK is empty-inner-zips, undetermined-members, search-list-areas, repeated-curve or
// distinct-scales; OUT a .xml, or a .zip for the archive attacks.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "gen_hostile_core.hpp"

int main(int argc, char** argv) {
    using namespace chizuvec::genhostile;
    Attack attack{};
    std::uint32_t n = 0;
    const std::string_view count = argc == 4 ? argv[2] : "";
    const auto parsed = std::from_chars(count.data(), count.data() + count.size(), n);
    if (argc != 4 || !attack_from_name(argv[1], attack) || parsed.ec != std::errc() ||
        parsed.ptr != count.data() + count.size()) {
        std::fputs("usage: chizuvec_genhostile ATTACK N OUT\n", stderr);
        return 2;
    }
    if (!write_attack(attack, n, argv[3])) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
