// tavrine: compress, decompress, test and list files from the shell.
#include <iostream>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "file_ops.h"
#include "options.h"
#include "system.h"
#include "tool.h"

namespace {

// Segment buffers of a megabyte or more come and go all the time. glibc maps
// each such buffer afresh and unmaps it when it is freed, so every segment
// paid for faulting in new zeroed pages (a third of the time with one
// thread); kept in the heap they are reused. Memory stays bounded by the
// segments in flight, as before.
void keepSegmentBuffersInTheHeap() {
#if defined(__GLIBC__)
    constexpr int kLargestHeapBuffer = 32 << 20;  // glibc's upper limit for this setting
    constexpr int kKeptFreeMemory = 256 << 20;
    mallopt(M_MMAP_THRESHOLD, kLargestHeapBuffer);
    mallopt(M_TRIM_THRESHOLD, kKeptFreeMemory);
#endif
}

// The tool's work, with the arguments in UTF-8.
int runTavrine(int argc, char** argv) {
    using namespace tavrine::tool;
    // Before anything is opened: a file that took descriptor 1 or 2 would
    // receive listings, messages or progress lines.
    if (!makeStandardDescriptorsValid()) return kExitFileFailed;
    const CommandLine commandLine = parseCommandLine(argc, argv, std::cout, std::cerr);
    if (!commandLine.options) return commandLine.exitStatus;
    keepSegmentBuffersInTheHeap();
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
