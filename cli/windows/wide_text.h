// The edge between the tool's UTF-8 strings and the UTF-16 of the Windows
// calls and console, and the reasons of failed Windows calls in the tool's
// words.
#pragma once

#include <windows.h>

#include <string>

namespace tavrine::tool {

// UTF-8 to UTF-16 and back; malformed UTF-8, and a UTF-16 surrogate without
// its pair, become U+FFFD.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

// Makes the console, where standard output or error is one, show UTF-8 (the
// messages name files in UTF-8); restoreConsoleCodePage() puts back the code
// page it had, at the end of the program and from the Ctrl-C handler.
void useUtf8Console() noexcept;
void restoreConsoleCodePage() noexcept;

// A Windows error code in the words the tool uses on every system ("no such
// file or directory", from the C library's text of the matching errno
// value); "system error N" for a code without such a match.
std::string describeSystemError(DWORD error);

}  // namespace tavrine::tool
