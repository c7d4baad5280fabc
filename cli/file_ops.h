// Files as the tool handles them: inputs opened with their metadata, outputs
// written to a temporary file beside the target and renamed into place only
// when complete and flushed, so that an interrupted or failed run never
// leaves a partial file under the target's name.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

namespace tavrine::tool {

// An owned file descriptor.
class UniqueFd {
public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const noexcept { return fd_; }
    int release() noexcept;
    // Closes now and reports the failure close() gives (0 or an errno value).
    int close() noexcept;

private:
    int fd_ = -1;
};

struct InputFile {
    UniqueFd fd;
    struct stat info {};
};

// Opens a file for reading; throws FileError naming it ("no such file or
// directory", "is a directory").
InputFile openInput(const std::string& path);

bool pathExists(const std::string& path) noexcept;

// Whether `path` names the same file as `info` describes.
bool isSameFile(const std::string& path, const struct stat& info) noexcept;

// Throws FileError naming the file.
void removeFile(const std::string& path);

// A temporary file beside `target`; commit() moves it into place.
class OutputFile {
public:
    explicit OutputFile(std::string target);  // throws FileError
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // removes the temporary file unless committed

    int fd() const noexcept { return fd_.get(); }
    const std::string& target() const noexcept { return target_; }

    // Flushes the data to the disk, gives the file the permissions and times
    // of `source` (or the default permissions), and renames it to the target.
    // Without `replace`, an existing target is left alone and the commit fails.
    void commit(bool replace, const struct stat* source);

private:
    std::string target_;
    std::string temporary_;
    UniqueFd fd_;
    bool committed_ = false;
};

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary file of the output
// being written before the process ends.
void installSignalCleanup() noexcept;

// Appends and strips file name suffixes; nullopt when `path` lacks the
// suffix or is nothing but the suffix.
std::optional<std::string> stripSuffix(const std::string& path, const std::string& suffix);
bool hasSuffix(const std::string& path, const std::string& suffix) noexcept;

}  // namespace tavrine::tool
