#include "process_timer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace bench {
namespace {

constexpr const char* kNowhere = "/dev/null";

// posix_spawn's file actions, released on every way out.
class FileActions {
public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() noexcept { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
};

}  // namespace

bool programAvailable(const std::string& program) {
    if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "");
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        if (!directory.empty() && access((directory + "/" + program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

namespace {

// Starts the program with standard input from `input` (empty: /dev/null) and
// standard output into `output` (empty: /dev/null); false when it cannot.
bool startProcess(const std::vector<std::string>& argv, const std::string& input,
                  const std::string& output, pid_t& child) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    FileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO,
                                     input.empty() ? kNowhere : input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO,
                                     output.empty() ? kNowhere : output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return posix_spawnp(&child, args[0], actions.get(), nullptr, args.data(), environ) == 0;
}

// Whether the child exited with status 0.
bool succeeded(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

double timeProcess(const std::vector<std::string>& argv, const std::string& input,
                   const std::string& output) {
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (!startProcess(argv, input, output, child)) return -1;
    const bool ok = succeeded(child);
    const double seconds = secondsSince(start);
    return ok ? seconds : -1;
}

double timeProcessesSideBySide(const std::vector<std::string>& argv, const std::string& input,
                               unsigned copies) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    bool ok = true;
    for (unsigned i = 0; i < copies && ok; ++i) {
        pid_t child = 0;
        ok = startProcess(argv, input, {}, child);
        if (ok) children.push_back(child);
    }
    for (const pid_t child : children) ok = succeeded(child) && ok;
    const double seconds = secondsSince(start);
    return ok ? seconds : -1;
}

}  // namespace bench
