#pragma once

// The single pass: every source line read, decoded, converted and written in turn.

#include <cstdint>
#include <cstdio>

namespace tsconv {

enum class ConversionResult { completed, source_read_failed, target_write_failed };

// Writes the header and a record line per source line that supplies a value; a
// record whose time stamp cannot be converted is left out and named on
// warnings. Stops at the first failed read or write, having flushed what it
// could. The probe span is init_local_time's (0 always does).
ConversionResult convert_source(std::FILE* source, std::FILE* target, std::FILE* warnings,
                                std::int64_t probe_span = 0);

}  // namespace tsconv
