// What the tests ask of the system where POSIX and Windows differ. The build compiles
// test_os_posix.cpp or test_os_windows.cpp, so the tests themselves never ask which one they run on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace chizuvec::test {

// The file name of the executable a build target of this name produces.
std::string executable_name(const std::string& target);

// Sets or removes a variable of this process's environment.
void set_environment(const std::string& name, const std::string& value);
void unset_environment(const std::string& name);
// Does the code page follow the locale variables of the environment (POSIX), or the system's
// settings (Windows)?
bool code_page_follows_environment();

// A pipe as two C run-time descriptors: [0] reads, [1] writes.
bool make_pipe(int ends[2]);
// A named pipe at `path`, which nothing writes to (Need::kEndlessInputs).
bool make_fifo(const std::string& path);

// What some tests need and not every system offers.
enum class Need {
    kFileSizeLimit,      // a per-process limit on the size of the files it writes
    kAddressSpaceLimit,  // a per-process limit on its address space
    kHostTools,          // the host's xmllint, rsvg-convert and Chromium
    kStandInViewer,      // a viewer of our own found by the desktop opener
    kSignals,            // signals sent to a program running beside the test
    kFolderWatch,        // notice of the files created, opened or changed in a folder
    kReadOnlyFolder,     // a folder in which the programs we start cannot make files
    kFullDevice,         // a device every write to fails as on a full disk
    kLocalSockets,       // a socket bound to a name in a folder
    kSymbolicLinks,      // symbolic links the tests can make and read
    kEndlessInputs,      // a named pipe in a folder (make_fifo) and a device that never ends (/dev/zero)
};
// Why this system cannot give what a test needs; empty when it can.
std::string missing(Need need);
// Are "a.XML" and "a.xml" one file?
bool file_names_ignore_case();
// A library every process of this system can load, which is not libzip.
std::string a_system_library();
// Runs `body` in a child process whose files cannot grow beyond `bytes` (a write past the limit
// fails, as on a full disk). Returns what `body` returned, or -1 when the child did not end normally.
int run_with_file_size_limit(std::uint64_t bytes, const std::function<int()>& body);
// Runs `body` in a child process whose address space may grow by at most `bytes` beyond what it
// has at the start. Returns what `body` returned, 2 when the limit could not be set, or -1 when
// the child did not end normally.
int run_with_address_space_headroom(std::uint64_t bytes, const std::function<int()>& body);

// Limits the size of the files this process and the programs it starts write, while it lives: a
// write past the limit fails, as on a full disk. Needs Need::kFileSizeLimit; does nothing without it.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    std::function<void()> restore_;
};

// Watches a folder for files created, opened or changed in it while it lives. Needs
// Need::kFolderWatch; sees nothing without it.
class FolderWatch {
  public:
    explicit FolderWatch(const std::string& dir);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;
    // True once something happened in the folder, false when `ms` passed without anything.
    bool wait(int ms) const;
    // Waits up to `ms` for a file to be created in the folder: true when one was.
    bool wait_for_creation(int ms) const;
    // The names of the files created, changed or moved into the folder so far and not yet
    // reported (an open alone is not reported).
    std::vector<std::string> changes() const;

  private:
    int fd_ = -1;
};

// A socket bound to `path`, to be closed by the returned object's end; -1 when it cannot be made
// (Need::kLocalSockets).
class LocalSocket {
  public:
    explicit LocalSocket(const std::string& path);
    ~LocalSocket();
    LocalSocket(const LocalSocket&) = delete;
    LocalSocket& operator=(const LocalSocket&) = delete;
    bool bound() const { return bound_; }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

// A device every write to fails as on a full disk ("/dev/full"); empty without Need::kFullDevice.
std::string full_device();

// How a program started by start_process runs.
struct ChildSettings {
    std::uint64_t file_size_limit = 0;  // 0: none; else Need::kFileSizeLimit
    bool low_priority = false;          // the lowest scheduling priority
    bool unprivileged = false;          // a root run drops to user nobody first; exit code 125 when it cannot
};
// Starts `exe` with `args` in `cwd` with standard input from the null device and standard output
// and error into files, without waiting; its process id, or -1.
long start_process(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& out_path, const std::string& err_path, const ChildSettings& settings);
// Waits for a process from start_process: its exit code (128 + signal when a signal ended it).
int wait_process(long pid);
// Sends a signal to a process from start_process without waiting (Need::kSignals).
void send_signal(long pid, int signal_number);
// Stops a process from start_process again and again until `now()` holds while none of its threads
// holds the signal back, then sends it the signal: the signal lands in that state whatever the
// machine's load. False when the process ended first (Need::kSignals).
bool send_signal_when(long pid, int signal_number, const std::function<bool()>& now);
// The signals that end a run as a user or the system may send them (Need::kSignals).
std::vector<int> termination_signals();
// The largest peak memory in bytes of the programs this process started and waited for so far; 0
// when the system does not tell (Wine reports none for a process that has ended).
std::uint64_t peak_memory_of_children();
// Runs a shell command and reads its standard output; its exit code (127: the command was not found).
int command_output(const std::string& command, std::string& output);

// Runs `exe` with `args` in `cwd` with standard input from the null device and standard output and
// error into files; `env` holds extra "NAME=value" settings. Returns the exit code (128 + signal
// when a signal ended it).
int run_process(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                const std::vector<std::string>& env, const std::string& out_path, const std::string& err_path);
// Starts `exe` with `args` in `cwd`, standard error into `err_path`, without waiting; its process
// id, or -1.
long start_in_background(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                         const std::string& err_path);
// Sends the signal to a process from start_in_background and waits for it: true when the signal
// ended it.
bool signal_and_wait(long pid, int signal_number);
// The exit code of a command from std::system's result (128 when a signal ended it).
int exit_code_of_system(int status);
// Console output as the tests compare it, in UTF-8 with LF line ends: a Windows console program
// writes the listing in the ANSI code page and ends lines in CR LF; a CSV is kept as it is.
std::string console_text(std::string text);

}  // namespace chizuvec::test
