#pragma once

// The target: the fixed header and one record line per converted source line,
// each ending in CR LF whatever the platform.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "local_timestamp.h"
#include "source_record.h"

namespace tsconv {

constexpr std::size_t minute_text_length = sizeof "DD.MM.YYYY;HH:MM:" - 1;  // before the seconds

// A buffered writer. After a failed write it writes nothing more, and a
// regular file is cut back to its last complete line.
struct TargetStream {
    std::FILE* file = nullptr;
    std::vector<char> buffer;  // whole lines only
    std::size_t used = 0;
    std::uint64_t written = 0;  // bytes handed to the file so far
    bool write_failed = false;
    // Records come many a minute: the text of a minute is written once.
    std::int64_t minute_shown = INT64_MIN;  // no record's minute
    char minute_text[minute_text_length] = {};
};

void open_target_stream(TargetStream& stream, std::FILE* file);
void write_target_header(TargetStream& stream);

void write_target_record(TargetStream& stream, const LocalTimestamp& time, const SourceRecord& record);

// Hands everything buffered to the file and flushes it; false when any write failed.
bool flush_target_stream(TargetStream& stream);

}  // namespace tsconv
