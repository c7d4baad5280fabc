#!/bin/sh
# The compiler launcher of windows/posix_threads.cmake: CMake runs
#   posix-threads-compiler.sh POSIX_COMPILER COMPILER ARGUMENTS...
# for every compile and link of the targets that use std::thread, and this
# runs the posix-thread variant of the MinGW compiler in place of COMPILER,
# the win32-thread one that the build is configured with.
set -eu
posix=$1
shift 2
exec "$posix" "$@"
