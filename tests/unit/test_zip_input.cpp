// Archives are built here with libzip, so no binary test data is kept in the project.
#include <gtest/gtest.h>
#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "mapxml/zip_input.hpp"
#include "platform/platform.hpp"
#include "test_archive.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

using test::archive_bytes;
using test::ArchiveEntry;
using test::files_in;
using test::write_archive;

// Bytes that deflate cannot shrink much, so the compressed stream is long.
std::string noise(std::size_t size) {
    std::string s(size, '\0');
    std::uint32_t x = 2463534242u;
    for (auto& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return s;
}

// Reads the wanted entry of an archive to its end through the source.
ZipResult read_entry(const std::string& archive, const std::string& wanted, std::string& bytes) {
    bytes.clear();
    ZipEntrySource entry;
    const ZipResult opened = entry.open(archive, wanted);
    if (opened.status != ZipStatus::ok) return opened;
    char buffer[4096];
    std::int64_t n = 0;
    while ((n = entry.read(buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    EXPECT_EQ(entry.size(), bytes.size());
    return entry.result();
}

TEST(ZipInput, StreamsTheEntryBytesAndWritesNothing) {
    struct Case {
        const char* what;
        std::string data;
        bool deflated;
    };
    const std::vector<Case> cases = {
        {"stored", "<?xml version=\"1.0\"?>\r\n<地図>\r\n", false},
        {"deflated", std::string(5000, 'a') + "end", true},
        {"deflated, several chunks", noise((3u << 20) + 17), true},
        {"stored, one byte over a chunk", noise((1u << 20) + 1), false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string archive = dir.file("X.zip");
        ASSERT_TRUE(write_archive(archive, {{"X.xml", c.data, c.deflated}}));
        std::string bytes;
        EXPECT_EQ(read_entry(archive, "X.xml", bytes).status, ZipStatus::ok);
        EXPECT_TRUE(bytes == c.data);
        EXPECT_EQ(files_in(dir.path), std::set<std::string>{"X.zip"});
    }
}

TEST(ZipInput, FindsTheWholeNameExactlyElseInAnyLetterCase) {
    struct Case {
        std::vector<std::string> names;
        int expected;  // index of the entry read, -1 for none
    };
    const std::vector<Case> cases = {
        {{"x.XML"}, 0},
        {{"data/X.xml"}, -1},
        {{"data/X.xml", "X.xml"}, 1},
        {{"X.xml/"}, -1},
        {{"X.xml.bak", "X.xm", "XX.xml", " X.xml", "X.xml"}, 4},
        {{"X.xml", "x.xml"}, 0},
        {{"x.xml", "X.xml"}, 1},
        {{"X.XML", "x.xml", "X.xml"}, 2},
        {{"X.XML", "x.xml"}, 0},
        {{"Y.xml", "X.zip"}, -1},
        {{}, -1},
    };
    // libzip writes no archive without entries; this is the bare end-of-directory record.
    const std::string empty_archive = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.names));
        test::TempDir dir;
        std::vector<ArchiveEntry> entries;
        for (std::size_t i = 0; i < c.names.size(); ++i) entries.push_back({c.names[i], "entry " + std::to_string(i)});
        const std::string archive = dir.file("X.zip");
        if (entries.empty()) {
            dir.write("X.zip", empty_archive);
        } else {
            ASSERT_TRUE(write_archive(archive, entries));
        }
        std::string bytes;
        const ZipResult result = read_entry(archive, "X.xml", bytes);
        if (c.expected < 0) {
            EXPECT_EQ(result.status, ZipStatus::no_entry);
        } else {
            EXPECT_EQ(result.status, ZipStatus::ok);
            EXPECT_EQ(bytes, "entry " + std::to_string(c.expected));
        }
    }
}

TEST(ZipInput, ComparesUtf8NamesInTheFileNameCodePageAndOtherNamesAsStored) {
    const std::string utf8_name = "\xE5\x9C\xB0\xE5\x9B\xB3.xml";  // 地図.xml
    const std::string sjis_name = "\x92\x6E\x90\x7D.xml";          // 地図.xml in Shift_JIS
    const std::string utf8_in_ansi =
        platform::convert_code_page(utf8_name, platform::kCodePageUtf8, platform::ansi_code_page());
    struct Case {
        const char* what;
        std::string stored;
        std::string wanted;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"UTF-8 name", utf8_name, utf8_in_ansi, true},
        {"UTF-8 name, other letter case", "\xE5\x9C\xB0\xE5\x9B\xB3.XmL", utf8_in_ansi, true},
        {"Shift_JIS name byte for byte", sjis_name, sjis_name, true},
        // Unless the file names are themselves Shift_JIS, as on a Japanese Windows.
        {"Shift_JIS name is never converted", sjis_name, utf8_in_ansi,
         platform::ansi_code_page() == platform::kCodePageShiftJis},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string archive = dir.file("a.zip");
        ASSERT_TRUE(write_archive(archive, {{c.stored, "named"}}));
        std::string bytes;
        const ZipResult result = read_entry(archive, c.wanted, bytes);
        EXPECT_EQ(result.status == ZipStatus::ok, c.matches);
        if (c.matches) {
            EXPECT_EQ(bytes, "named");
        }
    }
}

// Offset of the data of the archive's first entry, from its local header.
std::size_t first_entry_data_offset(const std::string& bytes) {
    const auto u16 = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at])) |
               static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
    };
    return 30 + u16(26) + u16(28);
}

TEST(ZipInput, FailuresReturnLibzipsCode) {
    const std::string payload = noise(200000);
    test::TempDir source;
    const std::string stored_path = source.file("stored.zip");
    const std::string deflated_path = source.file("deflated.zip");
    ASSERT_TRUE(write_archive(stored_path, {{"X.xml", payload, false}}));
    ASSERT_TRUE(write_archive(deflated_path, {{"X.xml", payload, true}}));
    const std::string stored = test::read_file(stored_path);
    const std::string deflated = test::read_file(deflated_path);

    std::string stored_damaged = stored;
    stored_damaged[first_entry_data_offset(stored) + 1000] ^= 0x5A;
    std::string deflated_damaged = deflated;
    for (std::size_t i = 0; i < 64; ++i) deflated_damaged[first_entry_data_offset(deflated) + 5000 + i] ^= 0x5A;

    struct Case {
        const char* what;
        std::string bytes;
        int expected;  // 0: any non-zero code
    };
    const std::vector<Case> cases = {
        {"not an archive", "<?xml version=\"1.0\"?>\n", ZIP_ER_NOZIP},
        {"empty file", "", ZIP_ER_NOZIP},
        {"truncated archive", stored.substr(0, stored.size() / 2), ZIP_ER_NOZIP},
        {"stored data damaged", stored_damaged, ZIP_ER_CRC},
        {"deflated data damaged", deflated_damaged, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string archive = dir.write("X.zip", c.bytes);
        std::string bytes;
        const ZipResult result = read_entry(archive, "X.xml", bytes);
        EXPECT_EQ(result.status, ZipStatus::failed);
        if (c.expected != 0) {
            EXPECT_EQ(result.code, c.expected);
        } else {
            EXPECT_NE(result.code, 0);
        }
    }

    test::TempDir dir;
    std::string bytes;
    const ZipResult missing = read_entry(dir.file("missing.zip"), "missing.xml", bytes);
    EXPECT_EQ(missing.status, ZipStatus::failed);
    EXPECT_EQ(missing.code, ZIP_ER_NOENT);
}

TEST(ZipInput, EncryptedEntryIsNotRead) {
    if (zip_encryption_method_supported(ZIP_EM_AES_256, 1) == 0) GTEST_SKIP() << "libzip without AES";
    test::TempDir dir;
    const std::string archive = dir.file("X.zip");
    ASSERT_TRUE(write_archive(archive, {{"X.xml", "secret", true, "password"}}));
    std::string bytes;
    const ZipResult result = read_entry(archive, "X.xml", bytes);
    EXPECT_EQ(result.status, ZipStatus::failed);
    EXPECT_EQ(result.code, ZIP_ER_NOPASSWD);
}

TEST(ZipInput, RealArchivesHoldTheirMapFile) {
    for (const char* base : {"12103-0400-76", "46505-3411-1"}) {
        SCOPED_TRACE(base);
        const std::string zip = test::shared_data(std::string(base) + ".zip");
        const std::string xml = test::shared_data(std::string(base) + ".xml");
        if (zip.empty() || xml.empty()) GTEST_SKIP() << "shared map data not present";
        test::TempDir dir;
        const std::string archive = (dir.path / (std::string(base) + ".zip")).string();
        std::filesystem::copy_file(zip, archive);
        std::string bytes;
        ASSERT_EQ(read_entry(archive, std::string(base) + ".xml", bytes).status, ZipStatus::ok);
        EXPECT_TRUE(bytes == test::read_file(xml));
    }
}

}  // namespace
}  // namespace chizuvec

namespace chizuvec {
namespace {

TEST(ZipInput, ReadsTheMapFileOfAnInnerZipInPlace) {
    const std::string map = "<?xml version=\"1.0\"?>\r\n" + noise(100000);
    const std::string inner = archive_bytes({{"m-1.xml", map, true}});
    // Deflates to almost nothing, unpacks to more than an inner archive may.
    const std::string huge = archive_bytes({{"m-1.xml", std::string(kMaxDeflatedInnerArchive + 1, ' ')}});
    struct Case {
        const char* what;
        ArchiveEntry inner;
        ZipStatus status;
        int code;
    };
    const std::vector<Case> cases = {
        {"stored inner zip", {"m-1.zip", inner, false}, ZipStatus::ok, 0},
        {"deflated inner zip", {"m-1.zip", inner, true}, ZipStatus::ok, 0},
        {"deflated, too large", {"m-1.zip", huge, true}, ZipStatus::too_large, 0},
        {"not a zip", {"m-1.zip", "PK no zip", false}, ZipStatus::failed, ZIP_ER_NOZIP},
        {"no map file", {"m-1.zip", archive_bytes({{"other.xml", map}}), true}, ZipStatus::no_entry, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string archive = dir.file("m.zip");
        ASSERT_TRUE(write_archive(archive, {{"m-search-list.csv", "x"}, c.inner}));
        ZipEntrySource entry;
        const ZipResult opened = entry.open_nested(archive, 1, "m-1.xml");
        EXPECT_EQ(opened.status, c.status);
        EXPECT_EQ(opened.code, c.code);
        if (opened.status != ZipStatus::ok) continue;
        std::string bytes;
        char buffer[4096];
        std::int64_t n = 0;
        while ((n = entry.read(buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
        EXPECT_EQ(entry.result().status, ZipStatus::ok);
        EXPECT_TRUE(bytes == map);
        EXPECT_EQ(files_in(dir.path), std::set<std::string>{"m.zip"});
    }
}

}  // namespace
}  // namespace chizuvec
