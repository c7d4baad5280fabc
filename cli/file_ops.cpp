#include "file_ops.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "byte_io.h"

namespace tavrine::tool {
namespace {

// The one piece of global mutable state in the tool: a signal handler can
// reach the temporary file only through it. Outputs are written one at a
// time, so one slot suffices.
constexpr std::size_t kCleanupPathCapacity = 4096;
char cleanupPath[kCleanupPathCapacity];
volatile std::sig_atomic_t cleanupArmed = 0;

extern "C" void removeTemporaryAndExit(int signalNumber) {
    if (cleanupArmed != 0) ::unlink(cleanupPath);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

void armCleanup(const std::string& path) noexcept {
    cleanupArmed = 0;
    if (path.size() >= kCleanupPathCapacity) return;
    std::memcpy(cleanupPath, path.c_str(), path.size() + 1);
    cleanupArmed = 1;
}

void disarmCleanup() noexcept { cleanupArmed = 0; }

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

// Renames without replacing an existing target, where the file system allows
// it atomically; elsewhere checks first.
int renameNoReplace(const std::string& from, const std::string& to) noexcept {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    if (pathExists(to)) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
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

InputFile openInput(const std::string& path) {
    InputFile input;
    input.fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (input.fd.get() < 0) throw FileError(path, describeError(errno));
    if (::fstat(input.fd.get(), &input.info) != 0) throw FileError(path, describeError(errno));
    if (S_ISDIR(input.info.st_mode)) throw FileError(path, "is a directory \u2014 skipped");
    return input;
}

bool pathExists(const std::string& path) noexcept {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool isSameFile(const std::string& path, const struct stat& info) noexcept {
    struct stat other {};
    return ::stat(path.c_str(), &other) == 0 && other.st_dev == info.st_dev &&
           other.st_ino == info.st_ino;
}

void removeFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0) throw FileError(path, "cannot remove: " + describeError(errno));
}

OutputFile::OutputFile(std::string target) : target_(std::move(target)) {
    std::string pattern = directoryOf(target_) + "/." + baseNameOf(target_) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = UniqueFd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd_.get() < 0) throw FileError(target_, "cannot create the output: " + describeError(errno));
    temporary_.assign(name.data());
    armCleanup(temporary_);
}

OutputFile::~OutputFile() {
    if (committed_) return;
    fd_.close();
    ::unlink(temporary_.c_str());
    disarmCleanup();
}

void OutputFile::commit(bool replace, const struct stat* source) {
    const int fd = fd_.get();
    constexpr mode_t kPermissionBits = 0777;
    const mode_t mode = source != nullptr ? (source->st_mode & kPermissionBits) : defaultPermissions();
    if (::fchmod(fd, mode) != 0) throw FileError(target_, describeError(errno));
    if (source != nullptr) {
        const struct timespec times[2] = {source->st_atim, source->st_mtim};
        ::futimens(fd, times);  // keeping the times is a courtesy, not a condition
    }
    if (::fsync(fd) != 0) throw FileError(target_, describeError(errno));
    if (const int error = fd_.close(); error != 0) throw FileError(target_, describeError(error));
    const int error = replace ? (::rename(temporary_.c_str(), target_.c_str()) == 0 ? 0 : errno)
                              : renameNoReplace(temporary_, target_);
    if (error == EEXIST) throw FileError(target_, "already exists; use -f to overwrite");
    if (error != 0) throw FileError(target_, describeError(error));
    committed_ = true;
    disarmCleanup();
    flushDirectory(directoryOf(target_));
}

void installSignalCleanup() noexcept {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = removeTemporaryAndExit;
        sigemptyset(&action.sa_mask);
        ::sigaction(signalNumber, &action, nullptr);
    }
}

bool hasSuffix(const std::string& path, const std::string& suffix) noexcept {
    return path.size() >= suffix.size() &&
           path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<std::string> stripSuffix(const std::string& path, const std::string& suffix) {
    if (!hasSuffix(path, suffix)) return std::nullopt;
    std::string stripped = path.substr(0, path.size() - suffix.size());
    if (stripped.empty() || stripped.back() == '/') return std::nullopt;
    return stripped;
}

}  // namespace tavrine::tool
