// The tool's files on Windows. Names are UTF-8 inside the tool and UTF-16 at
// every call (CreateFileW and its kin), so that any name works, whatever the
// ANSI code page. A new output is a temporary file beside the target, opened
// so that it can be deleted while open, and moved over the target's name
// (MoveFileExW) only once complete and flushed; Ctrl-C, Ctrl-Break and the
// closing of the console delete it first. Files are handed to the rest of
// the tool as C runtime descriptors in binary mode.
#include "file_ops.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <utility>

#include "byte_io.h"
#include "windows/wide_text.h"

namespace tavrine::tool {
namespace {

// The one piece of global mutable state in the tool: the console control
// handler, which runs on a thread of its own, reaches the temporary file only
// through it. Outputs are written one at a time, so one slot suffices. The
// lock keeps the handler from deleting a file that a commit is moving into
// place; the handler keeps it, so that no commit follows.
constexpr std::size_t kCleanupPathCapacity = 32768;  // the longest path Windows takes
wchar_t cleanupPath[kCleanupPathCapacity];
bool cleanupArmed = false;
SRWLOCK cleanupLock = SRWLOCK_INIT;

class CleanupLock {
public:
    CleanupLock() noexcept { AcquireSRWLockExclusive(&cleanupLock); }
    ~CleanupLock() { ReleaseSRWLockExclusive(&cleanupLock); }
    CleanupLock(const CleanupLock&) = delete;
    CleanupLock& operator=(const CleanupLock&) = delete;
};

// What an interrupted run ends with, as when the console's default handler
// ends a program on Ctrl-C.
constexpr UINT kInterruptedExitCode = 0xC000013A;  // STATUS_CONTROL_C_EXIT

BOOL WINAPI removeTemporaryAndExit(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    AcquireSRWLockExclusive(&cleanupLock);  // kept until the process ends
    // Opened with FILE_SHARE_DELETE, the file goes once the process's
    // handles close, which TerminateProcess does.
    if (cleanupArmed) DeleteFileW(cleanupPath);
    restoreConsoleCodePage();
    TerminateProcess(GetCurrentProcess(), kInterruptedExitCode);
    return TRUE;
}

void disarmCleanup() noexcept {
    const CleanupLock lock;
    cleanupArmed = false;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Creates a new file at `path` (CREATE_NEW: never one that exists) and arms
// the cleanup with it in one step, so that the Ctrl-C handler finds either
// no file of the tool's or this one. Shared for deletion, so that the
// handler can delete it while it is open. INVALID_HANDLE_VALUE and `error`
// when it cannot be created.
HANDLE createArmed(const std::wstring& path, DWORD& error) noexcept {
    const CleanupLock lock;
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE && path.size() < kCleanupPathCapacity) {
        std::memcpy(cleanupPath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        cleanupArmed = true;
    }
    return handle;
}

constexpr std::size_t kNameMax = 255;  // NTFS, FAT32 (long names), exFAT, ReFS
constexpr int kCreateAttempts = 100;

// An owned Windows handle.
class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() {
        if (valid()) CloseHandle(handle_);
    }
    HANDLE get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release() noexcept { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

private:
    HANDLE handle_;
};

HANDLE handleOf(int fd) noexcept { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// The handle as a C runtime descriptor, which then owns it.
UniqueFd descriptorOf(UniqueHandle& handle, int flags) {
    const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle.get()), flags | _O_BINARY);
    if (fd < 0) return UniqueFd();
    handle.release();
    return UniqueFd(fd);
}

bool isSeparator(char c) noexcept { return c == '/' || c == '\\'; }

// "C:\dir\name" -> "C:\dir"; "C:name" -> "C:"; "name" -> ".".
std::string directoryOf(const std::string& path) {
    const auto separator = path.find_last_of("/\\");
    if (separator == std::string::npos) {
        const bool driveRelative = path.size() >= 2 && path[1] == ':';
        return driveRelative ? path.substr(0, 2) : ".";
    }
    // A root keeps its separator: "\" and "C:\".
    const bool root = separator == 0 || (separator == 2 && path[1] == ':');
    return path.substr(0, root ? separator + 1 : separator);
}

std::string baseNameOf(const std::string& path) {
    const auto separator = path.find_last_of("/\\:");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    const char last = directory.back();
    if (isSeparator(last) || (directory.size() == 2 && last == ':')) return directory + name;
    return directory + "\\" + name;
}

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDifference = 116444736000000000;
constexpr std::int64_t kIntervalsPerSecond = 10000000;
constexpr std::int64_t kNanosecondsPerInterval = 100;

FileTime timeOf(const FILETIME& time) noexcept {
    const auto intervals =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) -
        kEpochDifference;
    // Floor division: times before 1970 keep nanoseconds in [0, 1e9).
    std::int64_t seconds = intervals / kIntervalsPerSecond;
    std::int64_t rest = intervals % kIntervalsPerSecond;
    if (rest < 0) {
        --seconds;
        rest += kIntervalsPerSecond;
    }
    return FileTime{seconds, rest * kNanosecondsPerInterval};
}

FILETIME fileTimeOf(const FileTime& time) noexcept {
    const auto intervals = static_cast<std::uint64_t>(time.seconds * kIntervalsPerSecond +
                                                      time.nanoseconds / kNanosecondsPerInterval + kEpochDifference);
    FILETIME converted;
    converted.dwLowDateTime = static_cast<DWORD>(intervals);
    converted.dwHighDateTime = static_cast<DWORD>(intervals >> 32);
    return converted;
}

// What the tool knows of the file open on `handle`; false when Windows will
// not say. A device or pipe is Kind::other with nothing else known.
bool infoOf(HANDLE handle, FileInfo& info, bool& symbolicLink) {
    symbolicLink = false;
    info = FileInfo{};
    if (GetFileType(handle) != FILE_TYPE_DISK) return true;
    BY_HANDLE_FILE_INFORMATION status;
    if (GetFileInformationByHandle(handle, &status) == 0) return false;
    symbolicLink = (status.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    info.kind = (status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileInfo::Kind::directory
                                                                        : FileInfo::Kind::regular;
    info.size = (static_cast<std::uint64_t>(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
    info.device = status.dwVolumeSerialNumber;
    info.fileNumber = (static_cast<std::uint64_t>(status.nFileIndexHigh) << 32) | status.nFileIndexLow;
    info.modified = timeOf(status.ftLastWriteTime);
    info.accessed = timeOf(status.ftLastAccessTime);
    return true;
}

bool sameFile(const FileInfo& a, const FileInfo& b) noexcept {
    return a.kind == FileInfo::Kind::regular && b.kind == FileInfo::Kind::regular && a.device == b.device &&
           a.fileNumber == b.fileNumber;
}

bool sameSizeAndTime(const FileInfo& a, const FileInfo& b) noexcept {
    return a.size == b.size && a.modified.seconds == b.modified.seconds &&
           a.modified.nanoseconds == b.modified.nanoseconds;
}

// Opens `path` to look at it, not to read it: directories included, and a
// symbolic link itself rather than what it leads to when `followLinks` is
// false.
UniqueHandle openForInfo(const std::string& path, bool followLinks) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return UniqueHandle(
        CreateFileW(widen(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
}

struct SearchClose {
    void operator()(HANDLE search) const noexcept { FindClose(search); }
};

bool notFound(DWORD error) noexcept { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

FileError alreadyExists(const std::string& target) {
    return FileError(target, "already exists; use -f to overwrite");
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() { close(); }

int UniqueFd::release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int UniqueFd::close() noexcept {
    if (fd_ < 0) return 0;
    const int result = ::_close(release());
    return result == 0 ? 0 : errno;
}

InputFile openInput(const std::string& path, bool followLinks) {
    // Shared for deletion too: --rm deletes the input while it is still open.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN |
                        (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    UniqueHandle handle(
        CreateFileW(widen(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!handle.valid()) throw FileError(path, describeSystemError(GetLastError()));
    InputFile input;
    bool symbolicLink = false;
    if (!infoOf(handle.get(), input.info, symbolicLink)) throw FileError(path, describeSystemError(GetLastError()));
    if (symbolicLink && !followLinks) throw FileError(path, "is a symbolic link -- skipped");
    if (input.info.kind == FileInfo::Kind::directory) {
        throw FileError(path, "is a directory -- skipped (-r goes through directories)");
    }
    input.fd = descriptorOf(handle, _O_RDONLY);
    if (input.fd.get() < 0) throw FileError(path, describeError(errno));
    return input;
}

// Inputs are read: a view of a file that shrinks underneath it would fail
// with an exception the tool cannot turn into a plain message.
MappedInput::~MappedInput() = default;

std::optional<MappedInput> mapInput(const InputFile&, const std::string&) { return std::nullopt; }

bool isDirectory(const std::string& path) noexcept {
    try {
        const DWORD attributes = GetFileAttributesW(widen(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    } catch (...) {
        return false;
    }
}

std::vector<DirectoryEntry> readDirectory(const std::string& path) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(widen(joinPath(path, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        throw FileError(path, "cannot read the directory: " + describeSystemError(GetLastError()));
    }
    const std::unique_ptr<void, SearchClose> closer(search);
    std::vector<DirectoryEntry> entries;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        DirectoryEntry item;
        item.path = joinPath(path, narrow(name));
        // A symbolic link or junction is a reparse point: not followed.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            item.kind = DirectoryEntry::Kind::other;
        } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            item.kind = DirectoryEntry::Kind::directory;
        } else {
            item.kind = DirectoryEntry::Kind::regular;
        }
        entries.push_back(std::move(item));
    } while (FindNextFileW(search, &found) != 0);
    if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES) {
        throw FileError(path, "cannot read the directory: " + describeSystemError(error));
    }
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.path < b.path; });
    return entries;
}

std::optional<std::string> changeWhileRead(const InputFile& input, std::uint64_t bytesRead) {
    if (!input.info.isRegular()) return std::nullopt;
    FileInfo now;
    bool symbolicLink = false;
    if (!infoOf(handleOf(input.fd.get()), now, symbolicLink)) {
        return "cannot be checked after reading: " + describeSystemError(GetLastError());
    }
    const std::uint64_t sizeWhenOpened = input.info.size;
    if (bytesRead != sizeWhenOpened || !sameSizeAndTime(now, input.info)) {
        return "changed while it was read (" + std::to_string(sizeWhenOpened) + " bytes when opened, " +
               std::to_string(bytesRead) + " read, " + std::to_string(now.size) +
               " now): the output may not match it";
    }
    return std::nullopt;
}

std::optional<std::string> removeIfUnchanged(const std::string& path, const InputFile& input) {
    FileInfo now;
    bool symbolicLink = false;
    {
        const UniqueHandle handle = openForInfo(path, false);
        if (!handle.valid()) {
            const DWORD error = GetLastError();
            if (notFound(error)) return std::string("was moved away while it was read; nothing removed");
            return "not removed: " + describeSystemError(error);
        }
        if (!infoOf(handle.get(), now, symbolicLink)) return "not removed: " + describeSystemError(GetLastError());
    }
    if (symbolicLink) return std::string("is a symbolic link; not removed");
    if (!sameFile(now, input.info)) {
        return std::string("was replaced while it was read; not removed (the output holds the file that was read)");
    }
    if (!sameSizeAndTime(now, input.info)) return std::string("changed while it was read; not removed");
    if (DeleteFileW(widen(path).c_str()) == 0) return "cannot be removed: " + describeSystemError(GetLastError());
    return std::nullopt;
}

OutputFile::OutputFile(std::string target, const OutputRequest& request)
    : target_(std::move(target)), writePath_(target_), replace_(request.replace) {
    const UniqueHandle existing = openForInfo(target_, true);
    if (!existing.valid()) {
        const DWORD error = GetLastError();
        if (!notFound(error)) throw FileError(target_, "cannot create the output: " + describeSystemError(error));
        createBeside();
        return;
    }
    FileInfo info;
    bool symbolicLink = false;
    if (!infoOf(existing.get(), info, symbolicLink)) {
        throw FileError(target_, "cannot create the output: " + describeSystemError(GetLastError()));
    }
    if (info.kind == FileInfo::Kind::directory) throw FileError(target_, "is a directory");
    if (info.kind == FileInfo::Kind::other) {
        // A device (NUL, CON) or a named pipe: the name is not the tool's to
        // replace. One the user named with -o is written without -f (-o NUL).
        if (!request.followLinks && !replace_) throw alreadyExists(target_);
        UniqueHandle handle(CreateFileW(widen(target_).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle.valid()) throw FileError(target_, "cannot write: " + describeSystemError(GetLastError()));
        fd_ = descriptorOf(handle, _O_WRONLY);
        if (fd_.get() < 0) throw FileError(target_, "cannot write: " + describeError(errno));
        kind_ = Kind::inPlace;
        return;
    }
    if (request.input != nullptr && sameFile(info, *request.input)) {
        throw FileError(target_, "is the input file itself");
    }
    if (!replace_) throw alreadyExists(target_);
    createBeside();
}

OutputFile::~OutputFile() {
    if (committed_) return;
    fd_.close();
    if (kind_ == Kind::temporary) {
        try {
            DeleteFileW(widen(temporary_).c_str());
        } catch (...) {
            // Out of memory for the name: the armed handler's copy is all there is.
        }
    }
    disarmCleanup();
}

// A hidden name beside the target ('.' and the target's name, as elsewhere;
// Windows hides by attribute, which the output would keep).
void OutputFile::createBeside() {
    const std::string directory = directoryOf(writePath_);
    const auto seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                      (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        temporary_ = joinPath(directory, temporaryName(baseNameOf(writePath_),
                                                       temporaryTail(seed ^ static_cast<std::uint64_t>(attempt)),
                                                       kNameMax));
        const std::wstring wide = widen(temporary_);
        DWORD error = ERROR_SUCCESS;
        UniqueHandle handle(createArmed(wide, error));
        if (!handle.valid()) {
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            throw FileError(target_, "cannot create the output: " + describeSystemError(error));
        }
        kind_ = Kind::temporary;
        fd_ = descriptorOf(handle, _O_WRONLY);
        if (fd_.get() < 0) {
            const int descriptorError = errno;
            DeleteFileW(wide.c_str());
            disarmCleanup();
            throw FileError(target_, "cannot create the output: " + describeError(descriptorError));
        }
        return;
    }
    throw FileError(target_, "cannot find a free temporary name beside it");
}

void OutputFile::commit(const FileInfo* source) {
    const HANDLE handle = handleOf(fd_.get());
    if (kind_ == Kind::inPlace) {
        // Pipes and devices have nothing to flush, and say so.
        if (FlushFileBuffers(handle) == 0) {
            const DWORD error = GetLastError();
            if (error != ERROR_INVALID_HANDLE && error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) {
                throw FileError(target_, describeSystemError(error));
            }
        }
        if (const int error = fd_.close(); error != 0) throw FileError(target_, describeError(error));
        committed_ = true;
        return;
    }
    if (source != nullptr) {
        // Keeping the times is a courtesy, not a condition. A new file takes
        // the permissions its directory hands down, as on Windows every file does.
        const FILETIME accessed = fileTimeOf(source->accessed);
        const FILETIME modified = fileTimeOf(source->modified);
        SetFileTime(handle, nullptr, &accessed, &modified);
    }
    if (FlushFileBuffers(handle) == 0) throw FileError(target_, describeSystemError(GetLastError()));
    if (const int error = fd_.close(); error != 0) throw FileError(target_, describeError(error));
    const std::wstring from = widen(temporary_);
    const std::wstring to = widen(writePath_);
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace_ ? MOVEFILE_REPLACE_EXISTING : 0);
    {
        const CleanupLock lock;
        if (MoveFileExW(from.c_str(), to.c_str(), flags) == 0) {
            const DWORD error = GetLastError();
            if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) throw alreadyExists(target_);
            throw FileError(target_, describeSystemError(error));
        }
        cleanupArmed = false;
        committed_ = true;
    }
}

bool makeStandardDescriptorsValid() noexcept {
    for (int fd = 0; fd <= 2; ++fd) {
        // The C runtime marks a standard descriptor without a handle with -2.
        if (::_get_osfhandle(fd) >= 0) continue;
        const int opened = ::_open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (opened < 0) return false;
        if (opened != fd) {
            const bool moved = ::_dup2(opened, fd) == 0;
            ::_close(opened);
            if (!moved) return false;
        }
    }
    // Data goes through standard input and output as it is: no line ends
    // translated, no Ctrl-Z taken for the end.
    return ::_setmode(0, _O_BINARY) != -1 && ::_setmode(1, _O_BINARY) != -1;
}

void installSignalCleanup() noexcept { SetConsoleCtrlHandler(removeTemporaryAndExit, TRUE); }

}  // namespace tavrine::tool
