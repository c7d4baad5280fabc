// The .tvr calls of the C interface on the library's own sources and sinks,
// for the descriptor conveniences and the reader and writer objects:
// settings checked (NULL: the defaults), the outcome in the report, nothing
// thrown.
#pragma once

#include "container/byte_io.h"
#include "container/tvr_reader.h"
#include "container/tvr_writer.h"
#include "tavrine_api.h"

namespace tavrine::api {

// The caller's settings, or the defaults for NULL; whether they are valid for
// writing and for reading; what the container takes from them. The progress
// function refers to `settings`, which must outlive it.
tavrine_tvr_settings settingsOrDefaults(const tavrine_tvr_settings* given) noexcept;
bool compressSettingsValid(const tavrine_tvr_settings& settings) noexcept;
bool decompressSettingsValid(const tavrine_tvr_settings& settings) noexcept;
container::CompressSettings compressSettingsOf(const tavrine_tvr_settings& settings) noexcept;
container::DecompressSettings decompressSettingsOf(const tavrine_tvr_settings& settings) noexcept;
container::ProgressFunction progressOf(const tavrine_tvr_settings& settings);

tavrine_status compressTvr(container::ByteSource& source, container::ByteSink& sink,
                           const tavrine_tvr_settings* settings, tavrine_tvr_report* report) noexcept;

tavrine_status decompressTvr(container::ByteSource& source, container::ByteSink& sink,
                             const tavrine_tvr_settings* settings,
                             tavrine_tvr_report* report) noexcept;

}  // namespace tavrine::api
