// Output files replaced only when complete: a temporary file beside the output, replaced over it;
// the console control handler that removes every temporary file in flight; the same-file check.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
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

// The longest file name (one path component) to make, in bytes of the ANSI code page: never more
// than the 255 UTF-16 units a name may have.
constexpr std::size_t kMaxNameBytes = 255;

bool open_directly(const std::string& path, OutputFile& out) {
    out.stream = std::fopen(path.c_str(), "wb");
    return out.stream != nullptr;
}

}  // namespace

bool file_id(const std::string& path, FileId& id) {
    HANDLE file =
        CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!known) return false;
    id = FileId{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return true;
}

bool begin_output_file(const std::string& path, OutputFile& out) {
    return open_output_file(path, OutputRules{}, out) == OutputOpen::ok;
}

OutputOpen open_output_file(const std::string& path, const OutputRules& rules, OutputFile& out) {
    out = OutputFile{};
    const DWORD attributes = GetFileAttributesA(path.c_str());
    bool exists = false;
    bool regular = false;
    if (rules.replace_links && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        // The link itself is replaced; whatever it leads to is not touched.
        out.target_path = path;
        out.replaces_link = true;
    } else {
        out.target_path = follow_links(path);
        probe(out.target_path, exists, regular);
        FileId id;
        if (exists && file_id(out.target_path, id) &&
            std::binary_search(rules.inputs.begin(), rules.inputs.end(), id)) {
            return OutputOpen::is_input;
        }
    }
    if (exists && regular) {
        // A file marked read-only is one the user keeps.
        const DWORD target = GetFileAttributesA(out.target_path.c_str());
        if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY) != 0) return OutputOpen::read_only;
    }
    if (exists && !regular) return open_directly(out.target_path, out) ? OutputOpen::ok : OutputOpen::failed;

    const std::string_view directory = path_directory(out.target_path);
    std::string name(path_file_name(out.target_path));
    // The temporary name is longer than the output's; one that would pass the limit of a name is
    // replaced by a short one of our own.
    if (name.size() + 8 > kMaxNameBytes) name = "chizuvec-output";
    const std::string stem = std::string(directory) +
                             (directory.empty() || directory.back() == '\\' || directory.back() == '/' ? "" : "\\") +
                             "." + name + ".";
    if (stem.size() + 8 >= sizeof g_temp_slots[0].path) return OutputOpen::failed;
    install_console_handler();
    const int slot = claim_temp_slot();
    if (slot < 0) return OutputOpen::failed;
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
        if (create_error == ERROR_ACCESS_DENIED && exists) {
            return open_directly(out.target_path, out) ? OutputOpen::ok : OutputOpen::failed;
        }
        return OutputOpen::failed;
    }
    out.slot = slot;
    out.temp_path = temp;
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) CloseHandle(file);
    out.stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (out.stream == nullptr) {
        if (fd >= 0) _close(fd);
        abandon_output_file(out);
        return OutputOpen::failed;
    }
    return OutputOpen::ok;
}

bool write_output(OutputFile& out, std::string_view bytes) {
    if (out.stream == nullptr) return false;
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out.stream) == bytes.size();
}

std::string release_output_stream(OutputFile& out) {
    if (out.stream != nullptr) std::fclose(out.stream);
    out.stream = nullptr;
    out.released = true;
    return out.temp_path.empty() ? out.target_path : out.temp_path;
}

bool commit_output_file(OutputFile& out, std::int64_t& size) {
    size = 0;
    bool ok = true;
    if (out.stream != nullptr) {
        // A stream may drop the bytes of a failed write and report nothing more at the flush.
        ok = std::ferror(out.stream) == 0;
        ok = std::fflush(out.stream) == 0 && ok;
        HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out.stream)));
        LARGE_INTEGER length{};
        if (ok && GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &length)) size = length.QuadPart;
        // The bytes reach the disk before the name moves to them.
        if (ok && !out.temp_path.empty()) ok = FlushFileBuffers(file) != 0;
        ok = std::fclose(out.stream) == 0 && ok;
        out.stream = nullptr;
    } else if (out.released) {
        // The writer that filled the file by name has closed it.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const std::string& written = out.temp_path.empty() ? out.target_path : out.temp_path;
        if (GetFileAttributesExA(written.c_str(), GetFileExInfoStandard, &data)) {
            size = (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
    } else {
        return false;
    }
    if (out.temp_path.empty()) return ok;
    if (ok) {
        const std::lock_guard<std::mutex> lock(g_slots_mutex);
        // ReplaceFile keeps the replaced file's attributes and permissions; a new name just moves.
        ok = !out.replaces_link && path_exists(out.target_path) &&
             ReplaceFileA(out.target_path.c_str(), out.temp_path.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                          nullptr, nullptr) != 0;
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

}  // namespace chizuvec::platform
