// Peak heap use of one call, counted by replacing the C allocator of this
// program (glibc only: the replacements forward to glibc's own entry points,
// so libbz2 and libzstd are counted alike). Elsewhere the counter reports
// that it is not available.
#pragma once

#include <cstddef>

namespace bench {

// True when allocations are being counted in this build.
bool heapCounterAvailable() noexcept;

// Starts a measurement: the peak is set to what is in use now.
void heapPeakReset() noexcept;

// Bytes the peak rose above the use at the last heapPeakReset().
std::size_t heapPeakSinceReset() noexcept;

}  // namespace bench
