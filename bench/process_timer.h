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

// Runs `copies` instances of the program side by side, each with standard
// input from `input` and output to /dev/null; returns the wall time until
// the last one exits, or a negative number when one failed. Against `copies`
// runs one after the other it shows what the machine's cores give to
// independent processes: the most that as many threads can gain.
double timeProcessesSideBySide(const std::vector<std::string>& argv, const std::string& input,
                               unsigned copies);

}  // namespace bench
