// The tool's work: every input in turn compressed, decompressed, tested or
// listed, each failure reported with the file's name and the reason, and the
// rest processed all the same.
#pragma once

#include <cstdio>

#include "options.h"

namespace tavrine::tool {

// Runs the options against the files; returns the exit status (0 or 1).
// Messages go to `messages`, listings to standard output.
int runTool(const ToolOptions& options, std::FILE* messages = stderr);

}  // namespace tavrine::tool
