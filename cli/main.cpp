// tavrine: compress, decompress, test and list files from the shell.
#include <iostream>

#include "file_ops.h"
#include "options.h"
#include "system.h"
#include "tool.h"

namespace {

// The tool's work, with the arguments in UTF-8.
int runTavrine(int argc, char** argv) {
    using namespace tavrine::tool;
    // Before anything is opened: a file that took descriptor 1 or 2 would
    // receive listings, messages or progress lines.
    if (!makeStandardDescriptorsValid()) return kExitFileFailed;
    const CommandLine commandLine = parseCommandLine(argc, argv, std::cout, std::cerr);
    if (!commandLine.options) return commandLine.exitStatus;
    installSignalCleanup();
    return runTool(*commandLine.options);
}

}  // namespace

// The arguments are UTF-8 strings on every system; Windows gives them in
// UTF-16 to wmain (-municode).
#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) { return tavrine::tool::runWithUtf8Arguments(argc, argv, runTavrine); }
#else
int main(int argc, char** argv) { return runTavrine(argc, argv); }
#endif
