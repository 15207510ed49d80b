#pragma once

// The single pass: every source line read, decoded, converted and written in turn.

#include <cstdio>

#include "local_time.h"

namespace tsconv {

enum class ConversionResult { completed, source_read_failed, target_write_failed };

// Writes the header and a record line per source line that supplies a value, in the local time of
// the zone set up (load_local_zone); a record whose time stamp cannot be converted is left out and
// named on warnings. Stops at the first failed read or write, having flushed what it could.
ConversionResult convert_source(std::FILE* source, std::FILE* target, std::FILE* warnings, LocalZone& zone);

}  // namespace tsconv
