// The .tvr calls of the C interface on the library's own sources and sinks,
// for the descriptor conveniences: settings checked (NULL: the defaults),
// the outcome in the report, nothing thrown.
#pragma once

#include "container/byte_io.h"
#include "tavrine_api.h"

namespace tavrine::api {

tavrine_status compressTvr(container::ByteSource& source, container::ByteSink& sink,
                           const tavrine_tvr_settings* settings, tavrine_tvr_report* report) noexcept;

tavrine_status decompressTvr(container::ByteSource& source, container::ByteSink& sink,
                             const tavrine_tvr_settings* settings,
                             tavrine_tvr_report* report) noexcept;

}  // namespace tavrine::api
