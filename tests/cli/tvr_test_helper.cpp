// Chores for the end-to-end tests of the tavrine program, which a shell
// script cannot do portably:
//   raw-encode VARIANT IN OUT     OUT := ZOLT_Encode's stream of IN, straight from the library
//   flip FILE OFFSET BIT          flips one bit; a negative OFFSET counts from the end
//   segment-offset FILE N         prints the offsets of segment N's frame and stream and its
//                                 stored size; N = end gives the end frame's offset
//   peak-rss OUT CMD...           runs CMD, writes its peak resident set in KiB to OUT,
//                                 exits with CMD's status
//   tty FD CAPTURE CMD...         runs CMD with descriptor FD (0, 1 or 2) on a pseudo-terminal,
//                                 writes what CMD wrote to the terminal into CAPTURE
//   unnamed-files DIR             exits with 0 when DIR's file system makes unnamed files
//                                 (O_TMPFILE), 77 when it does not
//   on-open FILE ACTION CMD...    runs CMD and, when it opens FILE, holds that open back while
//                                 the shell command ACTION runs (a file lease); exits with
//                                 CMD's status, or 77 when the file system grants no lease
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tavrine.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kSegmentFrameSize = 28;
constexpr std::uint8_t kSegmentFrameKind = 'S';
constexpr int kToolFailure = 3;  // distinct from what the commands under test return
constexpr int kNotAvailable = 77;  // CTest's usual code for a skipped test

[[noreturn]] void die(const std::string& message) {
    std::cerr << "tvr_test_helper: " << message << "\n";
    std::exit(kToolFailure);
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) die("cannot write " + path);
}

int rawEncode(const std::string& variantText, const std::string& in, const std::string& out) {
    const auto variant = static_cast<std::uint32_t>(std::stoul(variantText));
    const Bytes input = readFile(in);
    std::uint32_t bound = 0;
    if (ZOLT_GetMaximumEncodedLength(2, variant, static_cast<std::uint32_t>(input.size()), &bound) == 0) {
        die("unsupported variant");
    }
    Bytes stream(bound);
    std::uint32_t length = bound;
    if (ZOLT_Encode(2, variant, input.data(), static_cast<std::uint32_t>(input.size()), stream.data(), &length,
                    nullptr, nullptr) == 0) {
        die("ZOLT_Encode failed");
    }
    stream.resize(length);
    writeFile(out, stream);
    return 0;
}

int flip(const std::string& path, const std::string& offsetText, const std::string& bitText) {
    Bytes bytes = readFile(path);
    long long offset = std::stoll(offsetText);
    if (offset < 0) offset += static_cast<long long>(bytes.size());
    if (offset < 0 || offset >= static_cast<long long>(bytes.size())) die("offset outside the file");
    bytes[static_cast<std::size_t>(offset)] ^= static_cast<std::uint8_t>(1u << std::stoul(bitText));
    writeFile(path, bytes);
    return 0;
}

std::uint32_t get32(const Bytes& bytes, std::size_t at) {
    if (at + 4 > bytes.size()) die("file ends inside a frame");
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    return value;
}

int segmentOffset(const std::string& path, const std::string& which) {
    const Bytes bytes = readFile(path);
    const bool wantEnd = which == "end";
    const unsigned long wanted = wantEnd ? 0 : std::stoul(which);
    std::size_t at = kHeaderSize;
    for (unsigned long number = 1; at < bytes.size() && bytes[at] == kSegmentFrameKind; ++number) {
        const std::uint32_t stored = get32(bytes, at + 4);
        if (number == wanted) {
            std::cout << at << " " << at + kSegmentFrameSize << " " << stored << "\n";
            return 0;
        }
        at += kSegmentFrameSize + stored;
    }
    if (!wantEnd) die("no such segment");
    std::cout << at << "\n";
    return 0;
}

int waitFor(pid_t child, struct rusage* usage) {
    int status = 0;
    while (wait4(child, &status, 0, usage) < 0) {
        if (errno != EINTR) die("wait4 failed");
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

[[noreturn]] void execute(char** command) {
    execvp(command[0], command);
    std::fprintf(stderr, "tvr_test_helper: cannot run %s: %s\n", command[0], std::strerror(errno));
    _exit(127);
}

int peakRss(const std::string& out, char** command) {
    const pid_t child = fork();
    if (child < 0) die("fork failed");
    if (child == 0) execute(command);
    struct rusage usage {};
    const int status = waitFor(child, &usage);
    std::ofstream(out) << usage.ru_maxrss << "\n";
    return status;
}

int onTerminal(const std::string& fdText, const std::string& capture, char** command) {
    const int target = std::stoi(fdText);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) die("no pseudo-terminal");
    const char* slaveName = ptsname(master);
    // Opened before the fork, so that the terminal has a user from the start:
    // reading the master before that would already report the end.
    const int slave = slaveName != nullptr ? open(slaveName, O_RDWR | O_NOCTTY) : -1;
    if (slave < 0) die("cannot open the pseudo-terminal");
    const pid_t child = fork();
    if (child < 0) die("fork failed");
    if (child == 0) {
        if (dup2(slave, target) < 0) _exit(127);
        close(slave);
        close(master);
        execute(command);
    }
    close(slave);
    Bytes seen;
    std::uint8_t buffer[4096];
    for (;;) {
        // Read until the child has gone and nothing is left; EIO means the
        // terminal's other end is closed.
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got > 0) {
            seen.insert(seen.end(), buffer, buffer + got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        break;
    }
    struct rusage usage {};
    const int status = waitFor(child, &usage);
    close(master);
    writeFile(capture, seen);
    return status;
}

int unnamedFiles(const std::string& directory) {
    const int fd = open(directory.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd < 0) return kNotAvailable;
    close(fd);
    return 0;
}

// A write lease makes the kernel hold back every other open() of the file
// until the lease is released, and tell the holder with SIGIO. The opener has
// looked up the name by then: it gets the file that had the name, whatever
// ACTION does to the name meanwhile.
int onOpen(const std::string& path, const std::string& action, char** command) {
    sigset_t awaited;
    sigemptyset(&awaited);
    sigaddset(&awaited, SIGIO);
    sigaddset(&awaited, SIGCHLD);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &awaited, &previous);
    const int fd = open(path.c_str(), O_RDWR);
    if (fd < 0) die("cannot open " + path);
    if (fcntl(fd, F_SETLEASE, F_WRLCK) != 0) {
        std::fprintf(stderr, "tvr_test_helper: no file lease on %s: %s\n", path.c_str(), std::strerror(errno));
        return kNotAvailable;
    }
    const pid_t child = fork();
    if (child < 0) die("fork failed");
    if (child == 0) {
        close(fd);
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        execute(command);
    }
    constexpr struct timespec kPatience = {60, 0};
    siginfo_t info{};
    const int got = sigtimedwait(&awaited, &info, &kPatience);
    if (got != SIGIO) die(std::string(command[0]) + " did not open " + path);
    if (std::system(action.c_str()) != 0) die("the action failed: " + action);
    fcntl(fd, F_SETLEASE, F_UNLCK);
    close(fd);
    struct rusage usage {};
    return waitFor(child, &usage);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "raw-encode" && argc == 5) return rawEncode(argv[2], argv[3], argv[4]);
    if (command == "flip" && argc == 5) return flip(argv[2], argv[3], argv[4]);
    if (command == "segment-offset" && argc == 4) return segmentOffset(argv[2], argv[3]);
    if (command == "peak-rss" && argc > 3) return peakRss(argv[2], argv + 3);
    if (command == "tty" && argc > 4) return onTerminal(argv[2], argv[3], argv + 4);
    if (command == "unnamed-files" && argc == 3) return unnamedFiles(argv[2]);
    if (command == "on-open" && argc > 4) return onOpen(argv[2], argv[3], argv + 4);
    die("usage: see the comment at the top of tvr_test_helper.cpp");
}
