// The Win32 calls behind the platform interface: the ANSI and console code pages, conversions
// through UTF-16, GetModuleFileNameA for the executable's place, the performance counter for
// elapsed times and ShellExecuteA for handing a file to the desktop. Names are ANSI, as the
// program's arguments are.
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace chizuvec::platform {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Length of a drive prefix such as "C:", which a file name never continues.
std::size_t drive_prefix(std::string_view path) {
    return path.size() >= 2 && path[1] == ':' &&
                   ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))
               ? 2
               : 0;
}

// Position of the last separator, or npos.
std::size_t last_separator(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (is_separator(path[i - 1])) return i - 1;
    }
    return std::string_view::npos;
}

std::wstring to_utf16(std::string_view text, UINT code_page) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string from_utf16(const std::wstring& wide, UINT code_page) {
    if (wide.empty() || wide.size() > INT_MAX) return {};
    const int size = static_cast<int>(wide.size());
    // The UTF-8 conversion takes no flags; the others map what they lack to "?" rather than to a
    // look-alike.
    const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int length = WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(code_page, flags, wide.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

constexpr std::size_t kLargeAlignment = std::size_t{2} << 20;

std::size_t whole_large_steps(std::size_t value) {
    return (value + kLargeAlignment - 1) / kLargeAlignment * kLargeAlignment;
}

}  // namespace

std::uint32_t ansi_code_page() { return GetACP(); }

std::uint32_t console_code_page() {
    // No console (output to a pipe or a file) gives 0: texts then stay in the ANSI code page.
    const UINT code_page = GetConsoleCP();
    return code_page != 0 ? code_page : GetACP();
}

std::string convert_code_page(std::string_view text, std::uint32_t from_code_page, std::uint32_t to_code_page) {
    if (from_code_page == to_code_page || text.empty()) return std::string(text);
    std::wstring wide = to_utf16(text, from_code_page);
    if (wide.empty()) return std::string(text);
    if (to_code_page != kCodePageUtf8) {
        // A character beyond the basic plane is one character: one "?", not one per half.
        std::wstring narrowed;
        narrowed.reserve(wide.size());
        for (std::size_t i = 0; i < wide.size(); ++i) {
            const wchar_t c = wide[i];
            if (c >= 0xD800 && c <= 0xDFFF) {
                if (c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) ++i;
                narrowed.push_back(L'?');
            } else {
                narrowed.push_back(c);
            }
        }
        wide.swap(narrowed);
    }
    return from_utf16(wide, to_code_page);
}

bool source_date_epoch(std::int64_t& seconds) {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0') return false;
    const char* end = text + std::strlen(text);
    const auto [at, error] = std::from_chars(text, end, seconds);
    return error == std::errc() && at == end;
}

std::string executable_directory() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return ".";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return ".";
        path.resize(path.size() * 2);
    }
    return std::string(path_directory(path));
}

std::string utf8_path(const std::string& path) { return convert_code_page(path, ansi_code_page(), kCodePageUtf8); }

char path_separator() { return '\\'; }

std::string_view path_file_name(std::string_view path) {
    const std::size_t slash = last_separator(path);
    if (slash != std::string_view::npos) return path.substr(slash + 1);
    return path.substr(drive_prefix(path));
}

std::string_view path_extension(std::string_view path) {
    const std::string_view name = path_file_name(path);
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

std::string_view path_directory(std::string_view path) {
    const std::size_t slash = last_separator(path);
    if (slash == std::string_view::npos) return path.substr(0, drive_prefix(path));
    // A root keeps its separator: "\" and "C:\".
    const std::size_t root = drive_prefix(path);
    if (slash == root) return path.substr(0, root + 1);
    return path.substr(0, slash);
}

bool path_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool is_directory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool is_regular_file(const std::string& path) {
    // Pipes and devices by their own names (\\.\pipe\NAME, \\.\COM1) are no files on a disk.
    if (path.rfind("\\\\.\\", 0) == 0) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::vector<std::string> list_directory(const std::string& path) {
    std::vector<std::string> names;
    const std::string pattern =
        path + (path.empty() || is_separator(path.back()) || path.back() == ':' ? "" : "\\") + "*";
    WIN32_FIND_DATAA entry{};
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string_view name = entry.cFileName;
        if (name != "." && name != "..") names.emplace_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

bool make_directory(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && is_directory(path);
}

bool remove_empty_directory(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

bool seek_file(std::FILE* file, std::int64_t offset) { return _fseeki64(file, offset, SEEK_SET) == 0; }
FolderProblem folder_problem(const std::string& folder) {
    const std::string path = folder.empty() ? "." : folder;
    ULARGE_INTEGER free_bytes{};
    if (GetDiskFreeSpaceExA(path.c_str(), &free_bytes, nullptr, nullptr) && free_bytes.QuadPart == 0) {
        return FolderProblem::disk_full;
    }
    // Windows tells whether a folder takes new files only by trying: a file that deletes itself.
    const std::string probe = path + "\\~chizuvec-write-test.tmp";
    const HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return FolderProblem::none;
    }
    return GetLastError() == ERROR_ACCESS_DENIED ? FolderProblem::not_writable : FolderProblem::none;
}

std::string file_head(const std::string& path, std::size_t bytes) {
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return {};
    }
    std::string head(bytes, '\0');
    DWORD got = 0;
    const BOOL ok = ReadFile(h, head.data(), static_cast<DWORD>(head.size()), &got, nullptr);
    CloseHandle(h);
    head.resize(ok ? got : 0);
    return head;
}

std::int64_t file_size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

void* allocate_large_block(std::size_t bytes) {
    if (bytes == 0 || bytes > static_cast<std::size_t>(-1) - 2 * kLargeAlignment) return nullptr;
    const std::size_t length = whole_large_steps(bytes);
    // VirtualAlloc aligns to 64 KiB only: reserve one step more, note an aligned start inside, give
    // the reservation back and take the aligned part. Another thread may take the range in between,
    // hence the retries.
    for (int attempt = 0; attempt < 8; ++attempt) {
        void* const reserved = VirtualAlloc(nullptr, length + kLargeAlignment, MEM_RESERVE, PAGE_NOACCESS);
        if (reserved == nullptr) return nullptr;
        const std::uintptr_t start = whole_large_steps(reinterpret_cast<std::uintptr_t>(reserved));
        VirtualFree(reserved, 0, MEM_RELEASE);
        void* const block =
            VirtualAlloc(reinterpret_cast<void*>(start), length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (block != nullptr) return block;
    }
    return nullptr;
}

void free_large_block(void* block, std::size_t) {
    if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

void write_bytes_unchanged(std::FILE* stream) {
    std::fflush(stream);
    _setmode(_fileno(stream), _O_BINARY);
}

bool stderr_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

double monotonic_seconds() {
    static const double frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? static_cast<double>(f.QuadPart) : 1.0;
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

void pause_for_key() {
    // Only a console can answer; a script's pipe or file would leave the program waiting forever.
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return;
    std::fputs("Press any key to continue . . . ", stdout);
    std::fflush(stdout);
    (void)_getch();
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

void open_with_desktop(const std::string& path) {
    std::fflush(nullptr);
    ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

namespace {
// The library the last load_library was asked for: the system's message does not name it. A plain
// array, as a thread_local with a destructor may outlive its storage when a thread ends under MinGW.
thread_local char last_library_name[MAX_PATH] = {};
}  // namespace

void* load_library(const char* name) {
    std::snprintf(last_library_name, sizeof last_library_name, "%s", name);
    return reinterpret_cast<void*>(LoadLibraryA(name));
}

void* library_symbol(void* library, const char* name) {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

std::string library_error() {
    const DWORD error = GetLastError();
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(error);
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return std::string(last_library_name) + ": " + message;
}

}  // namespace chizuvec::platform
