// The libzip table: complete when libzip is there, and when it is not (or is not libzip), an
// archive read fails with one message and leaves nothing behind.
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <set>
#include <string>

#include "mapxml/zip_input.hpp"
#include "mapxml/zip_library.hpp"
#include "test_archive.hpp"
#include "test_os.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

// The number of table entries that are set.
int functions_present(const ZipLibrary& zip) {
    int present = 0;
#define CHIZUVEC_COUNT_PRESENT(name) present += zip.name != nullptr ? 1 : 0;
    CHIZUVEC_ZIP_FUNCTIONS(CHIZUVEC_COUNT_PRESENT)
#undef CHIZUVEC_COUNT_PRESENT
    return present;
}

constexpr int kFunctionCount = 0
#define CHIZUVEC_COUNT_ALL(name) +1
    CHIZUVEC_ZIP_FUNCTIONS(CHIZUVEC_COUNT_ALL)
#undef CHIZUVEC_COUNT_ALL
    ;

TEST(ZipLibrary, TableOfTheProcessHasEveryFunction) {
    const ZipLibrary& zip = zip_library();
    ASSERT_TRUE(zip.usable()) << zip.file_name << ": " << zip.error;
    EXPECT_EQ(functions_present(zip), kFunctionCount);
    // Made once: later calls give the same table.
    EXPECT_EQ(&zip_library(), &zip);
#ifdef CHIZUVEC_LIBZIP_SONAME
    // Loading by the SONAME finds the same library a second time.
    const ZipLibrary again = load_zip_library(CHIZUVEC_LIBZIP_SONAME);
    ASSERT_TRUE(again.usable()) << again.error;
    EXPECT_EQ(again.zip_open, zip.zip_open);
    EXPECT_EQ(again.zip_fread, zip.zip_fread);
#endif
}

TEST(ZipLibrary, LibraryMissingOrWithoutTheFunctionsIsUnusable) {
    struct Case {
        const char* file_name;
        const char* reason_contains;
    };
    const std::string system_library = test::a_system_library();
    const Case cases[] = {
        {"libchizuvec-no-such-library.so.9", "libchizuvec-no-such-library.so.9"},
        // Loads, but is not libzip: the first function looked up is reported.
        {system_library.c_str(), "no function zip_open"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file_name);
        const ZipLibrary zip = load_zip_library(c.file_name);
        EXPECT_FALSE(zip.usable());
        EXPECT_EQ(zip.file_name, c.file_name);
        EXPECT_NE(zip.error.find(c.reason_contains), std::string::npos) << zip.error;
        // A partial table is never handed out.
        EXPECT_EQ(functions_present(zip), 0);
    }
}

TEST(ZipLibrary, ReadingWithoutTheLibraryFailsSilentlyWithTheReason) {
    test::TempDir dir;
    const std::string archive = dir.file("X.zip");
    ASSERT_TRUE(test::write_archive(archive, "X.xml", "<map/>"));

    const ZipLibrary missing = load_zip_library("libchizuvec-no-such-library.so.9");
    testing::internal::CaptureStderr();
    ZipEntrySource without(missing);
    const ZipResult result = without.open(archive, "X.xml");
    char byte = 0;
    EXPECT_EQ(without.read(&byte, 1), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result.status, ZipStatus::library_missing);
    EXPECT_EQ(result.code, kZipLibraryMissing);
    EXPECT_NE(result.code, 0);
    EXPECT_EQ(result.library_file, "libchizuvec-no-such-library.so.9");
    EXPECT_FALSE(result.library_error.empty());
    EXPECT_EQ(err, "");
    EXPECT_EQ(test::files_in(dir.path), std::set<std::string>{"X.zip"});

    // The same archive reads with the process's own table, so the library was the only fault.
    ZipEntrySource with(zip_library());
    ASSERT_EQ(with.open(archive, "X.xml").status, ZipStatus::ok);
    char bytes[16] = {};
    EXPECT_EQ(with.read(bytes, sizeof bytes), 6);
    EXPECT_EQ(std::string(bytes, 6), "<map/>");
}

}  // namespace
}  // namespace chizuvec
