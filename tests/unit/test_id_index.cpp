#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "model/id_index.hpp"

namespace chizuvec {
namespace {

struct Record {
    std::uint32_t id_no = 0;
};

std::vector<Record> records_of(const std::vector<std::uint32_t>& numbers) {
    std::vector<Record> records;
    for (const auto n : numbers) records.push_back(Record{n});
    return records;
}

// The position a linear scan for the first record with this number would give.
std::uint32_t first_position(const std::vector<Record>& records, std::uint32_t id_no) {
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].id_no == id_no) return static_cast<std::uint32_t>(i);
    }
    return kNoRecord;
}

void expect_like_a_scan(const std::vector<Record>& records, const std::vector<std::uint32_t>& probes) {
    const IdIndex index = build_id_index(records);
    for (const auto id_no : probes) EXPECT_EQ(index.find(id_no), first_position(records, id_no)) << id_no;
    for (const auto& r : records) EXPECT_EQ(index.find(r.id_no), first_position(records, r.id_no)) << r.id_no;
}

TEST(IdIndex, FirstRecordOfANumberWinsDenseAndSparse) {
    const auto records = records_of({5, 3, 5, 3, 4000000000u, 0, 4000000000u, 7, 0xFFFFFFFFu, 0xFFFFFFFFu, 0});
    expect_like_a_scan(records, {1, 2, 4, 6, 8, 3999999999u, 4000000001u, 0xFFFFFFFEu});
    EXPECT_EQ(build_id_index(records).size, 6u);
}

TEST(IdIndex, MixedSmallAndHugeNumbersInAnyOrder) {
    std::vector<std::uint32_t> numbers;
    for (std::uint32_t i = 0; i < 3000; ++i) {
        numbers.push_back(i * 7919u % 5000u + 1u);  // small numbers, scattered, some repeated
        if (i % 10 == 0) numbers.push_back(1000000u + i * 104729u);
        if (i % 333 == 0) numbers.push_back(numbers[i / 2]);
        // Multiples of a power of two and of a prime bucket count: one bucket under an identity hash.
        if (i % 3 == 0) numbers.push_back((i + 1) * 65536u);
        if (i % 3 == 1) numbers.push_back((i + 1) * 42043u);
    }
    expect_like_a_scan(records_of(numbers), {0, 5001, 999999, 1000001, 0xFFFFFFFFu});
}

// Inserted one by one, as the reader does: a number that went to the hash map while the table was
// small must keep its first position when the table later grows past it and the number comes again.
TEST(IdIndex, NumberStoredSparseStaysFirstWhenTheDenseRangeGrowsPastIt) {
    std::vector<std::uint32_t> numbers = {10000};
    for (std::uint32_t n = 1; n <= 12000; ++n) numbers.push_back(n);
    IdIndex index;
    for (std::size_t i = 0; i < numbers.size(); ++i) index.insert_first(numbers[i], static_cast<std::uint32_t>(i));
    ASSERT_EQ(index.sparse_size, 1u) << "the early number should have gone to the hash table";
    ASSERT_GT(index.dense.size(), 10000u) << "the table should have grown past the early number";
    EXPECT_EQ(index.find(10000), 0u);
    EXPECT_EQ(index.find(9999), 9999u);
    EXPECT_EQ(index.find(10001), 10001u);
    EXPECT_EQ(index.size, 12000u);
}

TEST(IdIndex, ClearForgetsEverything) {
    IdIndex index = build_id_index(records_of({1, 2, 3000000000u}));
    index.clear();
    EXPECT_EQ(index.size, 0u);
    for (const std::uint32_t id_no : {1u, 2u, 3000000000u}) EXPECT_EQ(index.find(id_no), kNoRecord);
    index.insert_first(2, 9);
    EXPECT_EQ(index.find(2), 9u);
}

TEST(IdIndex, EmptyIndexFindsNothing) {
    const IdIndex index = build_id_index(std::vector<Record>{});
    for (const std::uint32_t id_no : {0u, 1u, 0xFFFFFFFFu}) EXPECT_EQ(index.find(id_no), kNoRecord);
}

}  // namespace
}  // namespace chizuvec
