#include "windows/wide_text.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <string>

#include "byte_io.h"

namespace tavrine::tool {
namespace {

// The console's code page before the tool set it to UTF-8; 0 when the tool
// did not. Global: the Ctrl-C handler runs on a thread of its own.
std::atomic<UINT> savedConsoleCodePage{0};

bool isConsole(DWORD standardHandle) noexcept {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

}  // namespace

std::wstring widen(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed > 0 ? needed : 0), L'\0');
    if (needed > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), needed);
    return wide;
}

std::string narrow(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) return std::string();
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), needed, nullptr, nullptr);
    return utf8;
}

void useUtf8Console() noexcept {
    if (!isConsole(STD_OUTPUT_HANDLE) && !isConsole(STD_ERROR_HANDLE)) return;
    const UINT current = GetConsoleOutputCP();
    if (current == 0 || current == CP_UTF8 || SetConsoleOutputCP(CP_UTF8) == 0) return;
    savedConsoleCodePage.store(current);
}

void restoreConsoleCodePage() noexcept {
    const UINT saved = savedConsoleCodePage.exchange(0);
    if (saved != 0) SetConsoleOutputCP(saved);
}

namespace {

// The errno value that stands for a Windows error code; 0 for codes without one.
int errnoOf(DWORD error) noexcept {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        default:
            return 0;
    }
}

}  // namespace

std::string describeSystemError(DWORD error) {
    const int equivalent = errnoOf(error);
    if (equivalent != 0) return describeError(equivalent);
    return "system error " + std::to_string(error);
}

}  // namespace tavrine::tool
