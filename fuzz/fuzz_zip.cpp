// Extraction from any bytes as an archive X.zip. Either a failure code and nothing new in the folder,
// or success and a file holding exactly the entry; never a partial file. A file-size limit stands in
// for a full disk, so an entry that inflates far beyond its compressed size ends as a write failure
// instead of filling the machine's disk.
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>

#include "fuzz_support.hpp"
#include "mapxml/zip_input.hpp"

namespace {

constexpr rlim_t kFileSizeLimit = rlim_t{64} << 20;

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Writes beyond the limit fail with EFBIG instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{kFileSizeLimit, kFileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace chizuvec;
    const std::string archive = fuzz::write_scratch_file("X.zip", data, size);
    std::string output = "_tmp000001.xml";
    const int code = extract_zip_entry(archive, "X.xml", output);
    if (code != 0 || output.empty()) {
        check(output.empty());
        check(fuzz::folder_listing(fuzz::scratch_dir()) == "X.zip");
        return 0;
    }
    check(output == fuzz::scratch_dir() + "/_tmp000001.xml");
    check(fuzz::folder_listing(fuzz::scratch_dir()) == "X.zip/_tmp000001.xml");
    std::remove(output.c_str());
    return 0;
}
