// tavrine: compress, decompress, test and list files from the shell.
#include <iostream>

#include "file_ops.h"
#include "options.h"
#include "tool.h"

int main(int argc, char** argv) {
    using namespace tavrine::tool;
    // Before anything is opened: a file that took descriptor 1 or 2 would
    // receive listings, messages or progress lines.
    if (!makeStandardDescriptorsValid()) return kExitFileFailed;
    const CommandLine commandLine = parseCommandLine(argc, argv, std::cout, std::cerr);
    if (!commandLine.options) return commandLine.exitStatus;
    installSignalCleanup();
    return runTool(*commandLine.options);
}
