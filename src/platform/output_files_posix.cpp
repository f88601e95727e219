// Output files replaced only when complete: a temporary file beside the output, renamed over it;
// the signal handlers that remove every temporary file in flight; the same-file check.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/platform.hpp"

namespace chizuvec::platform {

namespace {

// The temporary output files a signal must remove, one slot per output in flight on any thread.
// The handler may only make async-signal-safe calls, so each slot is a fixed buffer and a lock-free
// state: free, claimed by a writer, creating its file (signals held back on that thread), holding a
// file the handler must remove, or taken by the handler (the process is ending; the slot is never
// reused).
enum SlotState : int {
    kSlotFree = 0,
    kSlotClaimed = 1,
    kSlotCreating = 2,
    kSlotHoldsFile = 3,
    kSlotTakenByHandler = 4
};
struct TempSlot {
    std::atomic<int> state{kSlotFree};
    char path[4096] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);
TempSlot g_temp_slots[kMaxOutputsInFlight];

// Catching: the first signal is only recorded; g_caught_signal holds it.
std::atomic<int> g_catching{0};
std::atomic<int> g_caught_signal{0};

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_saved_actions[3];
struct sigaction g_saved_xfsz;
// Outputs in flight plus one while interrupts are caught: the handlers stay while it is not zero.
std::mutex g_handler_mutex;
int g_handler_users = 0;

// Set once a signal removes the temporary files: no thread creates another one after that.
std::atomic<int> g_removing{0};

void remove_every_temp() {
    g_removing.store(1);
    for (TempSlot& slot : g_temp_slots) {
        // A file being created on another thread (which holds the signals back, so it is not this
        // one) is waited for: it may exist already without being recorded yet.
        while (slot.state.load() == kSlotCreating) {
            const timespec pause{0, 20000};
            ::nanosleep(&pause, nullptr);
        }
        int expected = kSlotHoldsFile;
        if (slot.state.compare_exchange_strong(expected, kSlotTakenByHandler)) ::unlink(slot.path);
    }
}

extern "C" void remove_temp_and_reraise(int signal_number) {
    if (g_catching.load() != 0) {
        int none = 0;
        if (g_caught_signal.compare_exchange_strong(none, signal_number)) return;
    }
    remove_every_temp();
    // Then end as the signal would have ended the process.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal_number, &fallback, nullptr);
    ::raise(signal_number);
}

sigset_t cleanup_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : kCleanupSignals) sigaddset(&set, s);
    return set;
}

void install_output_handlers() {
    const std::lock_guard<std::mutex> lock(g_handler_mutex);
    if (g_handler_users++ > 0) return;
    struct sigaction action {};
    action.sa_handler = remove_temp_and_reraise;
    action.sa_mask = cleanup_signal_set();  // one removal at a time
    // A caught signal returns to the threads it interrupted: their reads and writes go on.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
        ::sigaction(kCleanupSignals[i], nullptr, &g_saved_actions[i]);
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (g_saved_actions[i].sa_handler != SIG_IGN) ::sigaction(kCleanupSignals[i], &action, nullptr);
    }
    // A file-size limit then makes the write fail with EFBIG like a full disk.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, &g_saved_xfsz);
}

void restore_output_handlers() {
    const std::lock_guard<std::mutex> lock(g_handler_mutex);
    if (g_handler_users == 0 || --g_handler_users > 0) return;
    for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
        ::sigaction(kCleanupSignals[i], &g_saved_actions[i], nullptr);
    }
    ::sigaction(SIGXFSZ, &g_saved_xfsz, nullptr);
}

// Runs `body` with the cleanup signals held back on this thread, so the registration and the file
// it names change together.
template <typename Body>
void with_signals_blocked(Body body) {
    const sigset_t set = cleanup_signal_set();
    sigset_t saved;
    ::pthread_sigmask(SIG_BLOCK, &set, &saved);
    body();
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

// A free slot for an output, or -1 when kMaxOutputsInFlight are in flight.
int claim_temp_slot() {
    for (int i = 0; i < kMaxOutputsInFlight; ++i) {
        int expected = kSlotFree;
        if (g_temp_slots[i].state.compare_exchange_strong(expected, kSlotClaimed)) return i;
    }
    return -1;
}

// Gives the slot back; a slot the handler has taken stays taken, as the process is ending.
void release_temp_slot(int slot) {
    if (slot < 0) return;
    TempSlot& s = g_temp_slots[slot];
    int expected = kSlotHoldsFile;
    if (!s.state.compare_exchange_strong(expected, kSlotClaimed) && expected == kSlotTakenByHandler) return;
    s.path[0] = '\0';
    s.state.store(kSlotFree);
}

// Follows symbolic links to the file they finally name, which need not exist yet (a dangling link
// still says where the file goes). Gives up after as many links as the system itself follows.
std::string follow_links(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return path;
        target.resize(static_cast<std::size_t>(n));
        if (target.front() == '/') {
            path = target;
        } else {
            const std::string_view directory = path_directory(path);
            path = directory.empty() ? target : std::string(directory) + (directory == "/" ? "" : "/") + target;
        }
    }
    return path;
}

// The umask can only be read by setting it; reading it once keeps that brief change away from the
// other threads' file creation after the first output.
mode_t creation_mode() {
    static const mode_t mask = [] {
        const mode_t current = ::umask(0);
        ::umask(current);
        return current;
    }();
    return static_cast<mode_t>(0666 & ~mask);
}

// The longest file name (one path component) the file systems we write to take, in bytes.
constexpr std::size_t kMaxNameBytes = 255;

bool open_directly(const std::string& path, OutputFile& out) {
    out.stream = std::fopen(path.c_str(), "wb");
    return out.stream != nullptr;
}

}  // namespace

bool file_id(const std::string& path, FileId& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    id = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

bool begin_output_file(const std::string& path, OutputFile& out) {
    return open_output_file(path, OutputRules{}, out) == OutputOpen::ok;
}

OutputOpen open_output_file(const std::string& path, const OutputRules& rules, OutputFile& out) {
    out = OutputFile{};
    struct stat st {};
    if (rules.replace_links && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // The link itself is replaced; whatever it leads to is not touched, so it is no input's loss.
        out.target_path = path;
        out.replaces_link = true;
    } else {
        out.target_path = follow_links(path);
    }
    bool exists = !out.replaces_link && ::stat(out.target_path.c_str(), &st) == 0;
    if (!exists && !out.replaces_link && ::stat(path.c_str(), &st) == 0) {
        // A link that only the system can follow (/dev/stdout through /proc to "pipe:[...]"): the
        // name as given.
        out.target_path = path;
        exists = true;
    }
    if (exists) {
        const FileId id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
        if (std::binary_search(rules.inputs.begin(), rules.inputs.end(), id)) return OutputOpen::is_input;
    }
    // A file nobody may write is one the user keeps: a rename would replace it all the same.
    if (exists && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) return OutputOpen::read_only;
    if (exists && !S_ISREG(st.st_mode)) {
        return open_directly(out.target_path, out) ? OutputOpen::ok : OutputOpen::failed;
    }

    const std::string_view directory = path_directory(out.target_path);
    std::string name(path_file_name(out.target_path));
    // The temporary name is longer than the output's; one that would pass the limit of a name is
    // replaced by a short one of our own.
    if (name.size() + 8 > kMaxNameBytes) name = "chizuvec-output";
    std::string temp =
        std::string(directory) + (directory.empty() || directory == "/" ? "" : "/") + "." + name + ".XXXXXX";
    if (temp.size() >= sizeof g_temp_slots[0].path) return OutputOpen::failed;
    const int slot = claim_temp_slot();
    if (slot < 0) return OutputOpen::failed;
    install_output_handlers();
    int fd = -1;
    int create_error = 0;
    with_signals_blocked([&] {
        // Either the handler sees this slot creating and waits, or this thread sees it removing.
        g_temp_slots[slot].state.store(kSlotCreating);
        if (g_removing.load() != 0) {
            create_error = EINTR;
        } else {
            fd = ::mkostemp(temp.data(), O_CLOEXEC);
            create_error = errno;
        }
        if (fd >= 0) std::memcpy(g_temp_slots[slot].path, temp.c_str(), temp.size() + 1);
        g_temp_slots[slot].state.store(fd >= 0 ? kSlotHoldsFile : kSlotClaimed);
    });
    if (fd < 0) {
        release_temp_slot(slot);
        restore_output_handlers();
        // A writable file in a folder we may not add to is still written, in place, as before.
        if ((create_error == EACCES || create_error == EPERM) && exists) {
            return open_directly(out.target_path, out) ? OutputOpen::ok : OutputOpen::failed;
        }
        return OutputOpen::failed;
    }
    out.temp_path = temp;
    out.slot = slot;
    const mode_t mode = exists ? static_cast<mode_t>(st.st_mode & 0777) : creation_mode();
    out.stream = ::fchmod(fd, mode) == 0 ? ::fdopen(fd, "wb") : nullptr;
    if (out.stream == nullptr) {
        ::close(fd);
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
    struct stat st {};
    if (out.stream != nullptr) {
        // A stream may drop the bytes of a failed write and report nothing more at the flush.
        ok = std::ferror(out.stream) == 0;
        ok = std::fflush(out.stream) == 0 && ok;
        if (ok && ::fstat(::fileno(out.stream), &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
        ok = std::fclose(out.stream) == 0 && ok;
        out.stream = nullptr;
    } else if (out.released) {
        const std::string& written = out.temp_path.empty() ? out.target_path : out.temp_path;
        if (::stat(written.c_str(), &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
    } else {
        return false;
    }
    if (out.temp_path.empty()) return ok;
    if (ok) {
        with_signals_blocked([&] {
            ok = ::rename(out.temp_path.c_str(), out.target_path.c_str()) == 0;
            if (ok) release_temp_slot(out.slot);
        });
    }
    if (!ok) {
        abandon_output_file(out);
        return false;
    }
    out.temp_path.clear();
    out.slot = -1;
    restore_output_handlers();
    return true;
}

void abandon_output_file(OutputFile& out) {
    if (out.stream != nullptr) std::fclose(out.stream);
    out.stream = nullptr;
    if (out.temp_path.empty()) return;
    with_signals_blocked([&] {
        ::unlink(out.temp_path.c_str());
        release_temp_slot(out.slot);
    });
    out.temp_path.clear();
    out.slot = -1;
    restore_output_handlers();
}

void catch_interrupts() {
    if (g_catching.exchange(1) != 0) return;
    install_output_handlers();
}

bool interrupt_requested() { return g_caught_signal.load() != 0; }

void end_as_interrupted() {
    const int signal_number = g_caught_signal.load();
    std::fflush(nullptr);
    if (signal_number != 0) {
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signal_number, &fallback, nullptr);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, signal_number);
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        ::raise(signal_number);
    }
    ::_exit(signal_number != 0 ? 128 + signal_number : 1);
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace chizuvec::platform
