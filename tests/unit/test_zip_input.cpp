// Archives are built here with libzip, so no binary test data is kept in the project.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "mapxml/zip_input.hpp"
#include "platform/platform.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

constexpr time_t kEntryTime = 1600000000;  // even: DOS times count in two-second steps

struct TestEntry {
    std::string name;
    std::string data;
    zip_int32_t method = ZIP_CM_STORE;
    const char* password = nullptr;  // AES-256 encryption when set
};

// Writes an archive holding `entries` in this order; false (with a test failure) when libzip refuses.
bool write_archive(const std::string& path, const std::vector<TestEntry>& entries) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        ADD_FAILURE() << "zip_open " << error;
        return false;
    }
    for (const auto& e : entries) {
        zip_source_t* source = zip_source_buffer(archive, e.data.data(), e.data.size(), 0);
        const zip_int64_t index = source == nullptr ? -1 : zip_file_add(archive, e.name.c_str(), source, 0);
        if (index < 0) {
            if (source != nullptr) zip_source_free(source);
            ADD_FAILURE() << "zip_file_add " << e.name << ": " << zip_strerror(archive);
            zip_discard(archive);
            return false;
        }
        const auto i = static_cast<zip_uint64_t>(index);
        bool ok = zip_set_file_compression(archive, i, e.method, 0) == 0 &&
                  zip_file_set_mtime(archive, i, kEntryTime, 0) == 0;
        if (ok && e.password != nullptr) ok = zip_file_set_encryption(archive, i, ZIP_EM_AES_256, e.password) == 0;
        if (!ok) {
            ADD_FAILURE() << "entry settings " << e.name << ": " << zip_strerror(archive);
            zip_discard(archive);
            return false;
        }
    }
    if (zip_close(archive) != 0) {
        ADD_FAILURE() << "zip_close: " << zip_strerror(archive);
        zip_discard(archive);
        return false;
    }
    return true;
}

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

std::set<std::string> files_in(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

std::int64_t modification_time(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_mtime);
}

TEST(ZipInput, WritesTheEntryBytesAndTimeBesideTheArchive) {
    struct Case {
        const char* what;
        std::string data;
        zip_int32_t method;
    };
    const std::vector<Case> cases = {
        {"stored", "<?xml version=\"1.0\"?>\r\n<地図>\r\n", ZIP_CM_STORE},
        {"deflated", std::string(5000, 'a') + "end", ZIP_CM_DEFLATE},
        {"deflated, several chunks", noise((3u << 20) + 17), ZIP_CM_DEFLATE},
        {"stored, one byte over a chunk", noise((1u << 20) + 1), ZIP_CM_STORE},
        {"empty", "", ZIP_CM_STORE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string archive = dir.file("X.zip");
        ASSERT_TRUE(write_archive(archive, {{"X.xml", c.data, c.method}}));
        std::string output = "_tmp004711.xml";
        ASSERT_EQ(extract_zip_entry(archive, "X.xml", output), 0);
        EXPECT_EQ(output, dir.file("_tmp004711.xml"));
        EXPECT_TRUE(test::read_file(output) == c.data);
        EXPECT_EQ(platform::file_size(output), static_cast<std::int64_t>(c.data.size()));
        EXPECT_EQ(modification_time(output), kEntryTime);
        EXPECT_EQ(files_in(dir.path), (std::set<std::string>{"X.zip", "_tmp004711.xml"}));
    }
}

TEST(ZipInput, FindsTheFirstEntryWithTheWholeNameInAnyLetterCase) {
    struct Case {
        std::vector<std::string> names;
        int expected;  // index of the entry extracted, -1 for none
    };
    const std::vector<Case> cases = {
        {{"x.XML"}, 0},
        {{"data/X.xml"}, -1},
        {{"data/X.xml", "X.xml"}, 1},
        {{"X.xml/"}, -1},
        {{"X.xml.bak", "X.xm", "XX.xml", " X.xml", "X.xml"}, 4},
        {{"X.xml", "x.xml"}, 0},
        {{"x.xml", "X.xml"}, 0},
        {{"Y.xml", "X.zip"}, -1},
        {{}, -1},
    };
    // libzip writes no archive without entries; this is the bare end-of-directory record.
    const std::string empty_archive = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.names));
        test::TempDir dir;
        std::vector<TestEntry> entries;
        for (std::size_t i = 0; i < c.names.size(); ++i) entries.push_back({c.names[i], "entry " + std::to_string(i)});
        const std::string archive = dir.file("X.zip");
        if (entries.empty()) {
            dir.write("X.zip", empty_archive);
        } else {
            ASSERT_TRUE(write_archive(archive, entries));
        }
        std::string output = "_tmp000001.xml";
        ASSERT_EQ(extract_zip_entry(archive, "X.xml", output), 0);
        if (c.expected < 0) {
            EXPECT_EQ(output, "");
            EXPECT_EQ(files_in(dir.path), std::set<std::string>{"X.zip"});
        } else {
            EXPECT_EQ(output, dir.file("_tmp000001.xml"));
            EXPECT_EQ(test::read_file(output), "entry " + std::to_string(c.expected));
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
        std::string output = "_tmp000002.xml";
        ASSERT_EQ(extract_zip_entry(archive, c.wanted, output), 0);
        EXPECT_EQ(!output.empty(), c.matches);
        if (c.matches) {
            EXPECT_EQ(test::read_file(output), "named");
        }
    }
}

TEST(ZipInput, NeverReplacesAnExistingFile) {
    struct Case {
        const char* wanted;
        std::vector<std::string> taken;
        const char* written;
    };
    const std::vector<Case> cases = {
        {"_tmp004711.xml", {"_tmp004711.xml"}, "_tmp004712.xml"},
        {"_tmp004711.xml", {"_tmp004711.xml", "_tmp004712.xml"}, "_tmp004713.xml"},
        {"_tmp000199.xml", {"_tmp000199.xml"}, "_tmp000200.xml"},
        {"_tmp999999.xml", {"_tmp999999.xml"}, "_tmp000000.xml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wanted);
        test::TempDir dir;
        const std::string archive = dir.file("X.zip");
        ASSERT_TRUE(write_archive(archive, {{"X.xml", "new"}}));
        for (const auto& name : c.taken) dir.write(name, "old " + name);
        std::string output = c.wanted;
        ASSERT_EQ(extract_zip_entry(archive, "X.xml", output), 0);
        EXPECT_EQ(output, dir.file(c.written));
        EXPECT_EQ(test::read_file(output), "new");
        for (const auto& name : c.taken) EXPECT_EQ(test::read_file(dir.file(name)), "old " + name);
    }
}

TEST(ZipInput, GivesUpWhenEveryNameTriedIsTaken) {
    test::TempDir dir;
    const std::string archive = dir.file("X.zip");
    ASSERT_TRUE(write_archive(archive, {{"X.xml", "new"}}));
    char name[32];
    for (int i = 0; i < 1000; ++i) {
        std::snprintf(name, sizeof name, "_tmp%06d.xml", i);
        dir.write(name, "old");
    }
    dir.write("out.xml", "old");
    for (const char* wanted : {"_tmp000000.xml", "out.xml"}) {
        SCOPED_TRACE(wanted);
        std::string output = wanted;
        EXPECT_EQ(extract_zip_entry(archive, "X.xml", output), ZIP_ER_EXISTS);
        EXPECT_EQ(output, "");
        EXPECT_EQ(files_in(dir.path).size(), 1002u);
        EXPECT_EQ(test::read_file(dir.file(wanted)), "old");
    }
}

TEST(ZipInput, ArchivePathWithoutDirectoryWritesIntoTheCurrentDirectory) {
    test::TempDir dir;
    ASSERT_TRUE(write_archive(dir.file("X.zip"), {{"X.xml", "here"}}));
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    std::string output = "_tmp000003.xml";
    const int code = extract_zip_entry("X.zip", "X.xml", output);
    // Without a wanted file name the entry is written under the wanted entry name.
    std::string unnamed;
    const int unnamed_code = extract_zip_entry("X.zip", "X.xml", unnamed);
    std::filesystem::current_path(saved);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(output, "_tmp000003.xml");
    EXPECT_EQ(test::read_file(dir.file("_tmp000003.xml")), "here");
    EXPECT_EQ(unnamed_code, 0);
    EXPECT_EQ(unnamed, "X.xml");
    EXPECT_EQ(test::read_file(dir.file("X.xml")), "here");
}

// Offset of the data of the archive's first entry, from its local header.
std::size_t first_entry_data_offset(const std::string& bytes) {
    const auto u16 = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at])) |
               static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
    };
    return 30 + u16(26) + u16(28);
}

TEST(ZipInput, FailuresReturnTheErrorAndLeaveNoFile) {
    const std::string payload = noise(200000);
    test::TempDir source;
    const std::string stored_path = source.file("stored.zip");
    const std::string deflated_path = source.file("deflated.zip");
    ASSERT_TRUE(write_archive(stored_path, {{"X.xml", payload, ZIP_CM_STORE}}));
    ASSERT_TRUE(write_archive(deflated_path, {{"X.xml", payload, ZIP_CM_DEFLATE}}));
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
        std::string output = "_tmp000004.xml";
        const int code = extract_zip_entry(archive, "X.xml", output);
        if (c.expected != 0) {
            EXPECT_EQ(code, c.expected);
        } else {
            EXPECT_NE(code, 0);
        }
        EXPECT_EQ(output, "");
        EXPECT_EQ(files_in(dir.path), std::set<std::string>{"X.zip"});
    }

    test::TempDir dir;
    std::string output = "_tmp000005.xml";
    EXPECT_EQ(extract_zip_entry(dir.file("missing.zip"), "missing.xml", output), ZIP_ER_NOENT);
    EXPECT_EQ(output, "");
    // The output cannot be created: its folder does not exist.
    const std::string archive = dir.write("X.zip", stored);
    output = "no-such-folder/_tmp000006.xml";
    EXPECT_EQ(extract_zip_entry(archive, "X.xml", output), ZIP_ER_WRITE);
    EXPECT_EQ(output, "");
    EXPECT_EQ(files_in(dir.path), std::set<std::string>{"X.zip"});
}

TEST(ZipInput, EncryptedEntryIsNotExtracted) {
    if (zip_encryption_method_supported(ZIP_EM_AES_256, 1) == 0) GTEST_SKIP() << "libzip without AES";
    test::TempDir dir;
    const std::string archive = dir.file("X.zip");
    ASSERT_TRUE(write_archive(archive, {{"X.xml", "secret", ZIP_CM_DEFLATE, "password"}}));
    std::string output = "_tmp000007.xml";
    EXPECT_EQ(extract_zip_entry(archive, "X.xml", output), ZIP_ER_NOPASSWD);
    EXPECT_EQ(output, "");
    EXPECT_EQ(files_in(dir.path), std::set<std::string>{"X.zip"});
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
        std::string output = "_tmp000008.xml";
        ASSERT_EQ(extract_zip_entry(archive, std::string(base) + ".xml", output), 0);
        EXPECT_TRUE(test::read_file(output) == test::read_file(xml));
    }
}

}  // namespace
}  // namespace chizuvec
