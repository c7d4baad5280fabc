// Runs a program as the shell would (`PROGRAM ARGS... < IN > OUT`) and times
// it from start to exit, for peers that are programs rather than libraries
// (lbzip2) and for the tavrine tool itself: whole-process wall time, start-up
// and file reading included.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Whether `program` is found on the PATH (or as given, with a slash).
bool programAvailable(const std::string& program);

// Runs argv[0] (looked up on the PATH) with standard input from `input`
// (empty: /dev/null) and standard output into `output` (empty: /dev/null);
// returns its wall time in seconds, or a negative number when it could not
// be started or did not exit with status 0.
double timeProcess(const std::vector<std::string>& argv, const std::string& input,
                   const std::string& output = {});

}  // namespace bench
