// POSIX stand-ins for the Windows calls: the locale's codeset for the code pages, iconv for the
// conversions, /proc/self/exe for the executable's place, a monotonic clock for ticks, and
// xdg-open for handing a file to the desktop.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/platform.hpp"

namespace chizuvec::platform {
namespace {

std::uint32_t locale_code_page() {
    static const std::uint32_t code_page = [] {
        // Only the character type is borrowed from the environment, and only for this look-up:
        // a user locale left in force would put "," into every printed number.
        const char* current = std::setlocale(LC_CTYPE, nullptr);
        const std::string saved = current != nullptr ? current : "C";
        std::setlocale(LC_CTYPE, "");
        std::string codeset = nl_langinfo(CODESET);
        std::setlocale(LC_CTYPE, saved.c_str());
        for (auto& c : codeset) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (codeset == "SHIFT_JIS" || codeset == "SJIS" || codeset == "CP932" || codeset == "WINDOWS-31J" ||
            codeset == "SHIFT-JIS") {
            return kCodePageShiftJis;
        }
        if (codeset == "EUC-JP" || codeset == "EUCJP") return kCodePageEucJp;
        // UTF-8, and the plain ASCII of the C/POSIX locale, which UTF-8 contains.
        return kCodePageUtf8;
    }();
    return code_page;
}

const char* iconv_name(std::uint32_t code_page) {
    switch (code_page) {
        case kCodePageShiftJis:
            return "CP932";
        case kCodePageEucJp:
            return "EUC-JP";
        default:
            return "UTF-8";
    }
}

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// `value` rounded up to a multiple of the huge page: the length of a large block as it was mapped.
std::size_t whole_huge_pages(std::size_t value) { return (value + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

std::uint32_t ansi_code_page() { return locale_code_page(); }
std::uint32_t console_code_page() { return locale_code_page(); }

std::string convert_code_page(std::string_view text, std::uint32_t from_code_page, std::uint32_t to_code_page) {
    if (from_code_page == to_code_page || text.empty()) return std::string(text);
    iconv_t cd = iconv_open(iconv_name(to_code_page), iconv_name(from_code_page));
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    std::string out;
    out.reserve(text.size() * 2 + 8);
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    char buffer[1024];
    while (in_left > 0) {
        char* dst = buffer;
        std::size_t dst_left = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (r != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // An invalid or unconvertible sequence: one replacement character, then go on.
        out.push_back('?');
        if (errno == EINVAL) break;  // incomplete sequence at the end
        // Skip the rest of a UTF-8 character as one unit, other encodings a byte at a time.
        std::size_t skip = 1;
        if (from_code_page == kCodePageUtf8) {
            while (skip < in_left && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
        }
        in += skip;
        in_left -= skip;
    }
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    iconv(cd, nullptr, nullptr, &dst, &dst_left);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    iconv_close(cd);
    return out;
}

bool source_date_epoch(std::int64_t& seconds) {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0') return false;
    const char* end = text + std::strlen(text);
    const auto [at, error] = std::from_chars(text, end, seconds);
    return error == std::errc() && at == end;
}

std::string executable_directory() {
    std::string path(4096, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) return ".";
        if (static_cast<std::size_t>(n) < path.size()) {
            path.resize(static_cast<std::size_t>(n));
            break;
        }
        path.resize(path.size() * 2);
    }
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string utf8_path(const std::string& path) { return path; }

char path_separator() { return '/'; }

std::string_view path_file_name(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view path_extension(std::string_view path) {
    const std::string_view name = path_file_name(path);
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

std::string_view path_directory(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool path_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_regular_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

FolderProblem folder_problem(const std::string& folder) {
    const std::string path = folder.empty() ? "." : folder;
    if (::access(path.c_str(), W_OK | X_OK) != 0 && (errno == EACCES || errno == EROFS)) {
        return FolderProblem::not_writable;
    }
    struct statvfs fs {};
    if (::statvfs(path.c_str(), &fs) == 0 && fs.f_bavail == 0) return FolderProblem::disk_full;
    return FolderProblem::none;
}

std::string file_head(const std::string& path, std::size_t bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    // A pipe's bytes would be gone for the reader that comes after.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {};
    }
    std::string head(bytes, '\0');
    std::size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    head.resize(got);
    return head;
}

std::vector<std::string> list_directory(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

bool make_directory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && is_directory(path);
}

bool remove_empty_directory(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool seek_file(std::FILE* file, std::int64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t file_size(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

void* allocate_large_block(std::size_t bytes) {
    if (bytes == 0 || bytes > static_cast<std::size_t>(-1) - 2 * kHugePage) return nullptr;
    const std::size_t length = whole_huge_pages(bytes);
    // One huge page more than needed, so an aligned start lies inside; the ends are given back.
    void* const mapped =
        ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto raw = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t start = whole_huge_pages(raw);
    if (start > raw) ::munmap(mapped, start - raw);
    ::munmap(reinterpret_cast<void*>(start + length), raw + kHugePage - start);
#if defined(MADV_HUGEPAGE)
    // Only a hint: where huge pages are off, the block is ordinary memory.
    ::madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(start);
}

void free_large_block(void* block, std::size_t bytes) {
    if (block != nullptr) ::munmap(block, whole_huge_pages(bytes));
}

void write_bytes_unchanged(std::FILE*) {}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

double monotonic_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A terminal user here runs the program from a shell that stays open: a pause would only stop
// scripts and loops of runs at every error.
void pause_for_key() {}

void open_with_desktop(const std::string& path) {
#ifdef __APPLE__
    const char* opener = "open";
#else
    const char* opener = "xdg-open";
#endif
    std::fflush(nullptr);
    // Fork twice so the viewer is adopted by init: no zombie, and no wait for it here.
    const pid_t child = ::fork();
    if (child < 0) return;
    if (child == 0) {
        if (::fork() == 0) {
            ::setsid();
            const int devnull = ::open("/dev/null", O_RDWR);
            if (devnull >= 0) {
                ::dup2(devnull, STDIN_FILENO);
                ::dup2(devnull, STDOUT_FILENO);
                ::dup2(devnull, STDERR_FILENO);
            }
            ::execlp(opener, opener, path.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

void* load_library(const char* name) {
    // Local, so the library's symbols cannot stand in for anything the program itself links.
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* library_symbol(void* library, const char* name) { return library != nullptr ? ::dlsym(library, name) : nullptr; }

std::string library_error() {
    const char* text = ::dlerror();
    return text != nullptr ? std::string(text) : std::string("unknown error");
}

}  // namespace chizuvec::platform
