// The tool's files on POSIX systems: unnamed files (O_TMPFILE) linked into
// place, hidden temporary files where the file system has none, owners and
// permissions kept, signals that remove what is unfinished.
#include "file_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "byte_io.h"
#include "options.h"

namespace tavrine::tool {
namespace {

// The one piece of global mutable state in the tool: a signal handler can
// reach the temporary file, and the message for a mapped input that failed,
// only through it. Outputs are written, and inputs mapped, one at a time, so
// one slot of each suffices.
constexpr std::size_t kCleanupPathCapacity = 4096;
char cleanupPath[kCleanupPathCapacity];
volatile std::sig_atomic_t cleanupArmed = 0;
constexpr std::size_t kMappingMessageCapacity = kCleanupPathCapacity + 128;
char mappingMessage[kMappingMessageCapacity];
volatile std::sig_atomic_t mappingMessageLength = 0;

extern "C" void removeTemporaryAndExit(int signalNumber) {
    if (cleanupArmed != 0) ::unlink(cleanupPath);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

// SIGBUS while an input is mapped: the file shrank under the mapping, or
// the system could not read a page of it. Only async-signal-safe calls.
extern "C" void reportFailedMappingAndExit(int signalNumber) {
    if (cleanupArmed != 0) ::unlink(cleanupPath);
    if (mappingMessageLength == 0) {
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
        return;
    }
    const ssize_t written = ::write(STDERR_FILENO, mappingMessage, static_cast<std::size_t>(mappingMessageLength));
    static_cast<void>(written);
    ::_exit(kExitFileFailed);
}

// Arms the SIGBUS handler with the message for `name`, before a mapping is used.
void armMappingGuard(const std::string& name) noexcept {
    mappingMessageLength = 0;
    const int length = std::snprintf(mappingMessage, kMappingMessageCapacity,
                                     "tavrine: %s: the file shrank, or could not be read, while the "
                                     "program worked on it\n",
                                     name.c_str());
    if (length <= 0) return;
    mappingMessageLength = static_cast<std::sig_atomic_t>(
        std::min<std::size_t>(static_cast<std::size_t>(length), kMappingMessageCapacity - 1));
    struct sigaction action {};
    action.sa_handler = reportFailedMappingAndExit;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, nullptr);
}

void disarmMappingGuard() noexcept {
    ::signal(SIGBUS, SIG_DFL);
    mappingMessageLength = 0;
}

void armCleanup(const std::string& path) noexcept {
    cleanupArmed = 0;
    if (path.size() >= kCleanupPathCapacity) return;
    std::memcpy(cleanupPath, path.c_str(), path.size() + 1);
    cleanupArmed = 1;
}

void disarmCleanup() noexcept { cleanupArmed = 0; }

constexpr std::size_t kCommonNameMax = 255;  // when the file system does not say
constexpr mode_t kOwnerReadWrite = 0600;
constexpr mode_t kPermissionBits = 0777;
constexpr int kLinkAttempts = 100;

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

std::size_t nameMaxOf(const std::string& directory) noexcept {
    const long nameMax = ::pathconf(directory.c_str(), _PC_NAME_MAX);
    return nameMax > 0 ? static_cast<std::size_t>(nameMax) : kCommonNameMax;
}

void flushDirectory(const std::string& directory) noexcept {
    const UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());  // best effort: some file systems refuse it
}

mode_t defaultPermissions() noexcept {
    constexpr mode_t kReadWriteForAll = 0666;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return kReadWriteForAll & ~mask;
}

FileTime timeOf(const struct timespec& time) noexcept { return FileTime{time.tv_sec, time.tv_nsec}; }

struct timespec timespecOf(const FileTime& time) noexcept {
    struct timespec converted {};
    converted.tv_sec = static_cast<time_t>(time.seconds);
    converted.tv_nsec = static_cast<long>(time.nanoseconds);
    return converted;
}

FileInfo infoOf(const struct stat& status) noexcept {
    FileInfo info;
    info.kind = S_ISREG(status.st_mode)   ? FileInfo::Kind::regular
                : S_ISDIR(status.st_mode) ? FileInfo::Kind::directory
                                          : FileInfo::Kind::other;
    info.size = static_cast<std::uint64_t>(status.st_size);
    info.device = static_cast<std::uint64_t>(status.st_dev);
    info.fileNumber = static_cast<std::uint64_t>(status.st_ino);
    info.modified = timeOf(status.st_mtim);
    info.accessed = timeOf(status.st_atim);
    info.permissions = static_cast<std::uint32_t>(status.st_mode & kPermissionBits);
    info.owner = static_cast<std::uint32_t>(status.st_uid);
    info.group = static_cast<std::uint32_t>(status.st_gid);
    return info;
}

bool sameFile(const struct stat& a, const FileInfo& b) noexcept {
    return static_cast<std::uint64_t>(a.st_dev) == b.device && static_cast<std::uint64_t>(a.st_ino) == b.fileNumber;
}

bool sameSizeAndTime(const struct stat& a, const FileInfo& b) noexcept {
    return static_cast<std::uint64_t>(a.st_size) == b.size && a.st_mtim.tv_sec == b.modified.seconds &&
           a.st_mtim.tv_nsec == b.modified.nanoseconds;
}

// A tail for a temporary name that linkat() then claims atomically.
std::string randomTail(int attempt) {
    return temporaryTail(
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<std::uint64_t>(::getpid()) << 32) ^ static_cast<std::uint64_t>(attempt));
}

// Gives an unnamed file (O_TMPFILE) the name `path`; 0 or an errno value.
int linkUnnamed(int fd, const std::string& path) noexcept {
    char procPath[40];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, procPath, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    const int error = errno;
    if (error == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
        // No /proc: the descriptor itself, which older kernels allow only to privileged processes.
        return ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
    }
    return error;
}

// Whether open() says that the file system or kernel has no unnamed files.
bool noUnnamedFiles(int error) noexcept {
    return error == EOPNOTSUPP || error == ENOTSUP || error == EISDIR || error == EINVAL;
}

// Renames without replacing an existing target, where the file system allows
// it atomically; elsewhere checks first.
int renameNoReplace(const std::string& from, const std::string& to) noexcept {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

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
    const int result = ::close(release());
    return result == 0 ? 0 : errno;
}

InputFile openInput(const std::string& path, bool followLinks) {
    InputFile input;
    const int noFollow = followLinks ? 0 : O_NOFOLLOW;
    input.fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | noFollow));
    if (input.fd.get() < 0 && errno == ELOOP && !followLinks) throw FileError(path, "is a symbolic link -- skipped");
    if (input.fd.get() < 0) throw FileError(path, describeError(errno));
    struct stat status {};
    if (::fstat(input.fd.get(), &status) != 0) throw FileError(path, describeError(errno));
    if (S_ISDIR(status.st_mode)) throw FileError(path, "is a directory -- skipped (-r goes through directories)");
    input.info = infoOf(status);
    return input;
}

MappedInput::~MappedInput() {
    if (address_ == nullptr) return;
    ::munmap(const_cast<void*>(address_), size_);
    address_ = nullptr;
    disarmMappingGuard();
}

std::optional<MappedInput> mapInput(const InputFile& input, const std::string& name) {
    if (!input.info.isRegular() || input.info.size == 0 ||
        input.info.size > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(input.info.size);
    void* const address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, input.fd.get(), 0);
    if (address == MAP_FAILED) return std::nullopt;
    armMappingGuard(name);
    return MappedInput(address, size);
}

bool isDirectory(const std::string& path) noexcept {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<DirectoryEntry> readDirectory(const std::string& path) {
    const std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(path.c_str()), &::closedir);
    if (!directory) throw FileError(path, "cannot read the directory: " + describeError(errno));
    std::vector<DirectoryEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory.get());
        if (entry == nullptr) break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        DirectoryEntry item;
        item.path = joinPath(path, name);
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(::dirfd(directory.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
                type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_LNK;
            }
        }
        if (type == DT_DIR) item.kind = DirectoryEntry::Kind::directory;
        if (type == DT_REG) item.kind = DirectoryEntry::Kind::regular;
        entries.push_back(std::move(item));
    }
    if (errno != 0) throw FileError(path, "cannot read the directory: " + describeError(errno));
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.path < b.path; });
    return entries;
}

std::optional<std::string> changeWhileRead(const InputFile& input, std::uint64_t bytesRead) {
    if (!input.info.isRegular()) return std::nullopt;
    struct stat now {};
    if (::fstat(input.fd.get(), &now) != 0) return "cannot be checked after reading: " + describeError(errno);
    const std::uint64_t sizeWhenOpened = input.info.size;
    if (bytesRead != sizeWhenOpened || !sameSizeAndTime(now, input.info)) {
        return "changed while it was read (" + std::to_string(sizeWhenOpened) + " bytes when opened, " +
               std::to_string(bytesRead) + " read, " + std::to_string(now.st_size) +
               " now): the output may not match it";
    }
    return std::nullopt;
}

std::optional<std::string> removeIfUnchanged(const std::string& path, const InputFile& input) {
    struct stat now {};
    if (::lstat(path.c_str(), &now) != 0) {
        if (errno == ENOENT) return std::string("was moved away while it was read; nothing removed");
        return "not removed: " + describeError(errno);
    }
    if (S_ISLNK(now.st_mode)) return std::string("is a symbolic link; not removed");
    if (!sameFile(now, input.info)) {
        return std::string("was replaced while it was read; not removed (the output holds the file that was read)");
    }
    if (!sameSizeAndTime(now, input.info)) return std::string("changed while it was read; not removed");
    if (::unlink(path.c_str()) != 0) return "cannot be removed: " + describeError(errno);
    return std::nullopt;
}

OutputFile::OutputFile(std::string target, const OutputRequest& request)
    : target_(std::move(target)), writePath_(target_), replace_(request.replace) {
    struct stat named {};
    if (::lstat(target_.c_str(), &named) != 0) {
        if (errno != ENOENT) throw FileError(target_, "cannot create the output: " + describeError(errno));
        createBeside();
        return;
    }
    struct stat led {};
    const bool leads = ::stat(target_.c_str(), &led) == 0;  // false: a dangling link
    const bool follow = S_ISLNK(named.st_mode) && request.followLinks && leads;
    const struct stat& info = follow ? led : named;
    if (leads && S_ISDIR(led.st_mode)) throw FileError(target_, "is a directory");
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        // A device, FIFO or socket: the name is not the tool's to replace.
        // One the user named with -o is written without -f (-o /dev/null).
        if (!request.followLinks && !replace_) throw alreadyExists(target_);
        fd_ = UniqueFd(::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (fd_.get() < 0) throw FileError(target_, "cannot write: " + describeError(errno));
        kind_ = Kind::inPlace;
        return;
    }
    if (leads && request.input != nullptr && sameFile(led, *request.input)) {
        throw FileError(target_, "is the input file itself");
    }
    if (!replace_) throw alreadyExists(target_);
    if (follow) {
        // The file the link leads to is replaced; the link stays.
        const std::unique_ptr<char, void (*)(void*)> resolved(::realpath(target_.c_str(), nullptr), &std::free);
        if (resolved) writePath_ = resolved.get();
    }
    createBeside();
}

OutputFile::~OutputFile() {
    if (committed_) return;
    fd_.close();
    if (kind_ == Kind::temporary) ::unlink(temporary_.c_str());
    disarmCleanup();
}

void OutputFile::createBeside() {
    const std::string directory = directoryOf(writePath_);
#ifdef O_TMPFILE
    fd_ = UniqueFd(::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kOwnerReadWrite));
    if (fd_.get() >= 0) {
        kind_ = Kind::unnamed;
        return;
    }
    if (!noUnnamedFiles(errno)) throw FileError(target_, "cannot create the output: " + describeError(errno));
#endif
    const std::string pattern =
        joinPath(directory, temporaryName(baseNameOf(writePath_), "XXXXXX", nameMaxOf(directory)));
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = UniqueFd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd_.get() < 0) throw FileError(target_, "cannot create the output: " + describeError(errno));
    kind_ = Kind::temporary;
    temporary_.assign(name.data());
    armCleanup(temporary_);
}

void OutputFile::commit(const FileInfo* source) {
    const int fd = fd_.get();
    if (kind_ == Kind::inPlace) {
        // Pipes and character devices have nothing to flush, and say so with EINVAL.
        if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) throw FileError(target_, describeError(errno));
        if (const int error = fd_.close(); error != 0) throw FileError(target_, describeError(error));
        committed_ = true;
        return;
    }
    if (source != nullptr) {
        // As gzip, bzip2 and zstd do: the group, then the owner, each where
        // permitted; a failure only leaves the output to whoever made it.
        // Before fchmod(), since a change of owner clears set-user-ID bits.
        (void)::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(source->group));
        (void)::fchown(fd, static_cast<uid_t>(source->owner), static_cast<gid_t>(-1));
    }
    const mode_t mode = source != nullptr ? static_cast<mode_t>(source->permissions) : defaultPermissions();
    if (::fchmod(fd, mode) != 0) throw FileError(target_, describeError(errno));
    if (source != nullptr) {
        const struct timespec times[2] = {timespecOf(source->accessed), timespecOf(source->modified)};
        ::futimens(fd, times);  // keeping the times is a courtesy, not a condition
    }
    if (::fsync(fd) != 0) throw FileError(target_, describeError(errno));
    if (kind_ == Kind::temporary) {
        if (const int error = fd_.close(); error != 0) throw FileError(target_, describeError(error));
        renameIntoPlace();
    } else {
        linkIntoPlace();
        committed_ = true;  // the data is on the disk under its name
        if (const int error = fd_.close(); error != 0) throw FileError(target_, describeError(error));
    }
    committed_ = true;
    disarmCleanup();
    flushDirectory(directoryOf(writePath_));
}

void OutputFile::linkIntoPlace() {
    const int error = linkUnnamed(fd_.get(), writePath_);
    if (error == 0) return;
    if (error != EEXIST) throw FileError(target_, describeError(error));
    if (!replace_) throw alreadyExists(target_);
    linkOverTarget();
}

// rename() replaces the target atomically, but only a name can be renamed:
// the complete file takes a hidden name for that moment.
void OutputFile::linkOverTarget() {
    const std::string directory = directoryOf(writePath_);
    const std::size_t nameMax = nameMaxOf(directory);
    for (int attempt = 0; attempt < kLinkAttempts; ++attempt) {
        temporary_ = joinPath(directory, temporaryName(baseNameOf(writePath_), randomTail(attempt), nameMax));
        armCleanup(temporary_);
        const int error = linkUnnamed(fd_.get(), temporary_);
        if (error == EEXIST) continue;
        if (error != 0) {
            disarmCleanup();
            throw FileError(target_, describeError(error));
        }
        if (::rename(temporary_.c_str(), writePath_.c_str()) != 0) {
            const int renameError = errno;
            ::unlink(temporary_.c_str());
            disarmCleanup();
            throw FileError(target_, describeError(renameError));
        }
        disarmCleanup();
        return;
    }
    disarmCleanup();
    throw FileError(target_, "cannot find a free temporary name beside it");
}

void OutputFile::renameIntoPlace() {
    const int error = replace_ ? (::rename(temporary_.c_str(), writePath_.c_str()) == 0 ? 0 : errno)
                               : renameNoReplace(temporary_, writePath_);
    if (error == EEXIST) throw alreadyExists(target_);
    if (error != 0) throw FileError(target_, describeError(error));
}

bool makeStandardDescriptorsValid() noexcept {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor: the ones below are open by now.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            if (opened >= 0) ::close(opened);
            return false;
        }
    }
    return true;
}

void installSignalCleanup() noexcept {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction inherited {};
        if (::sigaction(signalNumber, nullptr, &inherited) != 0 || inherited.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = removeTemporaryAndExit;
        sigemptyset(&action.sa_mask);
        ::sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace tavrine::tool
