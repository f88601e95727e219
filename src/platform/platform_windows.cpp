// The Win32 calls behind the platform interface: the ANSI and console code pages, conversions
// through UTF-16, GetModuleFileNameA for the executable's place, the performance counter for
// elapsed times and ShellExecuteA for handing a file to the desktop. Names are ANSI, as the
// program's arguments are.
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
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

namespace {

// The temporary output files that Ctrl+C, Ctrl+Break or closing the console must remove, one slot
// per output in flight on any thread. The console handler runs on a thread of its own, so one lock
// keeps every slot and its file in step: the handler takes it for good, and no output can be put in
// place or begun after it has removed the files.
struct TempSlot {
    bool in_use = false;
    bool holds_file = false;
    char path[MAX_PATH * 4] = {};
};
std::mutex g_slots_mutex;
TempSlot g_temp_slots[kMaxOutputsInFlight];

std::once_flag g_handler_once;
// Catching: the first Ctrl+C or Ctrl+Break is only recorded.
std::atomic<bool> g_catching{false};
std::atomic<bool> g_interrupted{false};

// What the console's default handler ends a process with on Ctrl+C.
constexpr UINT kControlCExit = 0xC000013A;

void remove_every_temp_and_hold() {
    g_slots_mutex.lock();  // never released: the process is ending
    for (TempSlot& slot : g_temp_slots) {
        if (slot.holds_file) DeleteFileA(slot.path);
        slot.holds_file = false;
    }
}

BOOL WINAPI on_console_event(DWORD event) {
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (interrupt && g_catching.load() && !g_interrupted.exchange(true)) return TRUE;  // recorded
    remove_every_temp_and_hold();
    return FALSE;  // the default handler then ends the process
}

void install_console_handler() {
    std::call_once(g_handler_once, [] { SetConsoleCtrlHandler(on_console_event, TRUE); });
}

// A free slot for an output, or -1 when kMaxOutputsInFlight are in flight.
int claim_temp_slot() {
    const std::lock_guard<std::mutex> lock(g_slots_mutex);
    for (int i = 0; i < kMaxOutputsInFlight; ++i) {
        if (!g_temp_slots[i].in_use) {
            g_temp_slots[i].in_use = true;
            return i;
        }
    }
    return -1;
}

void release_temp_slot(int slot) {
    if (slot < 0) return;
    const std::lock_guard<std::mutex> lock(g_slots_mutex);
    g_temp_slots[slot] = TempSlot{};
}

// The file a symbolic link or junction finally names; other names are kept as they are.
std::string follow_links(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return path;
    HANDLE file =
        CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    char final_path[MAX_PATH * 4];
    const DWORD n = GetFinalPathNameByHandleA(file, final_path, sizeof final_path, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (n == 0 || n >= sizeof final_path) return path;
    std::string resolved(final_path, n);
    // "\\?\C:\dir\file" names the same file as "C:\dir\file".
    if (resolved.rfind("\\\\?\\", 0) == 0 && resolved.size() > 6 && resolved[5] == ':') resolved.erase(0, 4);
    return resolved;
}

// Is there something under the name, and is it a file on a disk (not a folder or a device)?
void probe(const std::string& path, bool& exists, bool& regular) {
    HANDLE file =
        CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    exists = file != INVALID_HANDLE_VALUE;
    regular = false;
    if (!exists) {
        const DWORD error = GetLastError();
        // Present but not to be opened now (in use, no access): a file all the same.
        exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME;
        regular = exists;
        return;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
              (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(file);
}

bool open_directly(const std::string& path, OutputFile& out) {
    out.stream = std::fopen(path.c_str(), "wb");
    return out.stream != nullptr;
}

}  // namespace

bool begin_output_file(const std::string& path, OutputFile& out) {
    out = OutputFile{};
    out.target_path = follow_links(path);
    bool exists = false;
    bool regular = false;
    probe(out.target_path, exists, regular);
    if (exists && !regular) return open_directly(out.target_path, out);

    const std::string_view directory = path_directory(out.target_path);
    const std::string stem = std::string(directory) +
                             (directory.empty() || is_separator(directory.back()) ? "" : "\\") + "." +
                             std::string(path_file_name(out.target_path)) + ".";
    if (stem.size() + 8 >= sizeof g_temp_slots[0].path) return false;
    install_console_handler();
    const int slot = claim_temp_slot();
    if (slot < 0) return false;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string temp;
    DWORD create_error = ERROR_FILE_EXISTS;
    {
        // Created and recorded in one step, so Ctrl+C finds every file there is.
        const std::lock_guard<std::mutex> lock(g_slots_mutex);
        static unsigned counter = 0;
        // A name nobody has: CREATE_NEW refuses one that exists, so a clash only means another try.
        for (int attempt = 0; attempt < 100 && create_error == ERROR_FILE_EXISTS; ++attempt) {
            char suffix[16];
            const unsigned mix = GetCurrentProcessId() * 7919u + GetTickCount() + counter++ * 104729u;
            std::snprintf(suffix, sizeof suffix, "%06X", mix & 0xFFFFFFu);
            temp = stem + suffix;
            // Shared for deletion: Ctrl+C removes it while this handle is still open.
            file = CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
            create_error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
            if (create_error == ERROR_ALREADY_EXISTS) create_error = ERROR_FILE_EXISTS;
        }
        if (file != INVALID_HANDLE_VALUE) {
            std::memcpy(g_temp_slots[slot].path, temp.c_str(), temp.size() + 1);
            g_temp_slots[slot].holds_file = true;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        release_temp_slot(slot);
        // A writable file in a folder we may not add to is still written, in place, as before.
        if (create_error == ERROR_ACCESS_DENIED && exists) return open_directly(out.target_path, out);
        return false;
    }
    out.slot = slot;
    out.temp_path = temp;
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) CloseHandle(file);
    out.stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (out.stream == nullptr) {
        if (fd >= 0) _close(fd);
        abandon_output_file(out);
        return false;
    }
    return true;
}

bool commit_output_file(OutputFile& out, std::int64_t& size) {
    size = 0;
    if (out.stream == nullptr) return false;
    bool ok = std::fflush(out.stream) == 0;
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out.stream)));
    LARGE_INTEGER length{};
    if (ok && GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &length)) size = length.QuadPart;
    // The bytes reach the disk before the name moves to them.
    if (ok && !out.temp_path.empty()) ok = FlushFileBuffers(file) != 0;
    ok = std::fclose(out.stream) == 0 && ok;
    out.stream = nullptr;
    if (out.temp_path.empty()) return ok;
    if (ok) {
        const std::lock_guard<std::mutex> lock(g_slots_mutex);
        // ReplaceFile keeps the replaced file's attributes and permissions; a new name just moves.
        ok = path_exists(out.target_path) && ReplaceFileA(out.target_path.c_str(), out.temp_path.c_str(), nullptr,
                                                          REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
        if (!ok) {
            ok = MoveFileExA(out.temp_path.c_str(), out.target_path.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        }
        if (ok) g_temp_slots[out.slot].holds_file = false;
    }
    if (!ok) {
        abandon_output_file(out);
        return false;
    }
    release_temp_slot(out.slot);
    out.slot = -1;
    out.temp_path.clear();
    return true;
}

void abandon_output_file(OutputFile& out) {
    if (out.stream != nullptr) std::fclose(out.stream);
    out.stream = nullptr;
    if (out.temp_path.empty()) return;
    {
        const std::lock_guard<std::mutex> lock(g_slots_mutex);
        DeleteFileA(out.temp_path.c_str());
        if (out.slot >= 0) g_temp_slots[out.slot].holds_file = false;
    }
    release_temp_slot(out.slot);
    out.slot = -1;
    out.temp_path.clear();
}

void catch_interrupts() {
    g_catching.store(true);
    install_console_handler();
}

bool interrupt_requested() { return g_interrupted.load(); }

void end_as_interrupted() {
    std::fflush(nullptr);
    if (!g_interrupted.load()) ExitProcess(1);
    remove_every_temp_and_hold();
    // As the console's own Ctrl+C handling ends a process, so a calling script sees the interrupt.
    ExitProcess(kControlCExit);
}

void write_bytes_unchanged(std::FILE* stream) {
    std::fflush(stream);
    _setmode(_fileno(stream), _O_BINARY);
}

bool stderr_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool same_file(const std::string& a, const std::string& b) {
    // One volume and one file index: the same file, whatever names or links lead to it.
    const auto identify = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE file =
            CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool known = GetFileInformationByHandle(file, &info) != 0;
        CloseHandle(file);
        return known;
    };
    BY_HANDLE_FILE_INFORMATION ia{};
    BY_HANDLE_FILE_INFORMATION ib{};
    return identify(a, ia) && identify(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
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
// The library the last load_library was asked for: the system's message does not name it.
thread_local std::string last_library_name;
}  // namespace

void* load_library(const char* name) {
    last_library_name = name;
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
    return last_library_name + ": " + message;
}

}  // namespace chizuvec::platform
