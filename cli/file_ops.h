// Files as the tool handles them. Inputs are opened with their metadata, and
// an input is removed (--rm) only while its name still leads to the very file
// that was read, unchanged. A new or replaced output is written where no one
// sees it (an unnamed file, or a hidden temporary file where the file system
// has none) and appears under its name only when complete and flushed, so an
// interrupted or failed run never leaves a partial file under that name. An
// existing device, FIFO or socket named as the output is written in place and
// never removed, replaced or renamed over.
//
// One implementation per system: posix/file_ops.cpp (unnamed files linked
// into place, owners and permissions, signals) and windows/file_ops.cpp (a
// temporary file beside the target moved over it, console control events);
// file_ops.cpp holds what both share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

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

// A moment as the file system records it.
struct FileTime {
    std::int64_t seconds = 0;  // since 1970-01-01 UTC
    std::int64_t nanoseconds = 0;
};

// What the tool knows of a file: its kind and size, what tells it apart from
// every other file, and what an output takes over from its input.
struct FileInfo {
    enum class Kind { regular, directory, other };  // other: a device, FIFO, socket or pipe
    Kind kind = Kind::other;
    std::uint64_t size = 0;
    // The same device (volume) and file number: the same file.
    std::uint64_t device = 0;
    std::uint64_t fileNumber = 0;
    FileTime modified;
    FileTime accessed;
    // POSIX: permission bits, owner and group. Windows keeps no owner.
    std::uint32_t permissions = 0;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;

    bool isRegular() const noexcept { return kind == Kind::regular; }
};

struct InputFile {
    UniqueFd fd;
    FileInfo info;  // when it was opened
};

// Opens a file for reading; throws FileError naming it ("no such file or
// directory", "is a directory"). Without `followLinks`, a symbolic link is
// refused (a file found below a directory).
InputFile openInput(const std::string& path, bool followLinks = true);

// A regular file's bytes mapped for reading, so that they are coded where
// the system keeps them instead of copied. While a mapping lives, the file
// shrinking underneath it, or a read error, which the system signals on
// access, ends the process with a message naming the file, the output's
// temporary file removed first.
class MappedInput {
public:
    MappedInput(const void* address, std::size_t size) noexcept
        : address_(address), size_(size) {}
    MappedInput(MappedInput&& other) noexcept
        : address_(std::exchange(other.address_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    MappedInput& operator=(MappedInput&&) = delete;
    MappedInput(const MappedInput&) = delete;
    MappedInput& operator=(const MappedInput&) = delete;
    ~MappedInput();

    std::span<const std::uint8_t> bytes() const noexcept {
        return {static_cast<const std::uint8_t*>(address_), size_};
    }

private:
    const void* address_;
    std::size_t size_;
};

// Maps the regular file `input`, named `name` in messages, at its size when
// opened; nullopt, leaving it to be read, when it is empty or not regular,
// when mapping fails, and always on Windows.
std::optional<MappedInput> mapInput(const InputFile& input, const std::string& name);

// Whether `path` leads to a directory (through symbolic links).
bool isDirectory(const std::string& path) noexcept;

struct DirectoryEntry {
    enum class Kind { directory, regular, other };  // a symbolic link is `other`
    std::string path;                               // the directory's path joined with the name
    Kind kind = Kind::other;
};

// The entries of a directory but "." and "..", sorted by name; throws
// FileError naming the directory when it cannot be read.
std::vector<DirectoryEntry> readDirectory(const std::string& path);

// Why the regular file `input` cannot be trusted to match what was made of
// it: its size or modification time changed since it was opened, or
// `bytesRead` (all of it was read) differs from its size then. nullopt when
// it did not change, or is not a regular file.
std::optional<std::string> changeWhileRead(const InputFile& input, std::uint64_t bytesRead);

// Removes `path` if it still names the file `input` was opened on, unchanged
// since; otherwise leaves it and returns why.
std::optional<std::string> removeIfUnchanged(const std::string& path, const InputFile& input);

struct OutputRequest {
    bool replace = false;      // -f: an existing regular file may be replaced
    bool followLinks = false;  // a name the user gave (-o): a symbolic link leads to the output
    const FileInfo* input = nullptr;  // refused as the output, when given
};

// Where an output is written until commit() makes it visible. Throws
// FileError: the target is a directory or the input itself, exists and may
// not be replaced, or cannot be created.
class OutputFile {
public:
    OutputFile(std::string target, const OutputRequest& request);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // an uncommitted new file disappears

    int fd() const noexcept { return fd_.get(); }
    // Written in place: an existing device, FIFO or socket.
    bool inPlace() const noexcept { return kind_ == Kind::inPlace; }

    // Flushes the data to the disk; a new file gets the owner (when
    // permitted), permissions and times of `source` (or the default
    // permissions) and appears under the target's name.
    void commit(const FileInfo* source);

private:
    // Unnamed files exist only where the system makes them (Linux).
    enum class Kind { unnamed, temporary, inPlace };

    void createBeside();
    void linkIntoPlace();
    void linkOverTarget();
    void renameIntoPlace();

    std::string target_;     // for messages: as the user knows it
    std::string writePath_;  // the name the output takes (a link's destination with followLinks)
    std::string temporary_;  // the hidden name of Kind::temporary, or while linking over the target
    bool replace_;
    Kind kind_ = Kind::unnamed;
    UniqueFd fd_;
    bool committed_ = false;
};

// The hidden name of a temporary file beside `targetName` (a name without its
// directory): '.', the target's name, '.', `tail`, cut so that the whole
// stays within `nameMax` bytes, the longest name the directory takes.
std::string temporaryName(const std::string& targetName, const std::string& tail, std::size_t nameMax);

// Six letters or digits for a temporary name, different for every `seed`
// (the time, the process, the attempt): only collisions matter, not secrecy.
std::string temporaryTail(std::uint64_t seed);

// Opens /dev/null (NUL) on whichever of descriptors 0, 1 and 2 is closed, so
// that no file opened later takes their place; on Windows also makes
// standard input and output carry bytes unchanged (binary mode). False when
// that fails.
bool makeStandardDescriptorsValid() noexcept;

// Makes SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl-C, Ctrl-Break and the
// closing of the console) remove the temporary file of the output being
// written before the process ends. A signal the process inherited as ignored
// (nohup, trap '' INT; a Ctrl-C that a Windows parent disabled) stays ignored.
void installSignalCleanup() noexcept;

// Appends and strips file name suffixes; nullopt when `path` lacks the
// suffix or is nothing but the suffix.
std::optional<std::string> stripSuffix(const std::string& path, const std::string& suffix);
bool hasSuffix(const std::string& path, const std::string& suffix) noexcept;

}  // namespace tavrine::tool
