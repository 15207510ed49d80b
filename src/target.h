#pragma once

// The target side: the fixed header and one record line per converted source
// line, each ending in CR LF as stored, whatever the platform.

#include <cstddef>
#include <cstdio>
#include <vector>

#include "local_time.h"
#include "source_record.h"

namespace tsconv {

// The text last written for one column, reused while the column's value
// stays the same to the bit (set points rarely change; -0 and 0 differ).
struct ColumnText {
    double value = 0.0;
    char text[32];
    std::size_t length = 0;  // 0: nothing kept
};

// A buffered writer over the target. Once a write has failed, it writes
// nothing more and write_failed stays set.
struct TargetStream {
    std::FILE* file = nullptr;
    std::vector<char> buffer;
    std::size_t used = 0;
    bool write_failed = false;
    // "DD.MM.YYYY;HH:MM:" of the minute last written: records come many a minute.
    LocalTimestamp minute_shown;
    char minute_text[17];
    bool minute_known = false;
    ColumnText values[3];  // PV, wSP, wOP
};

void open_target_stream(TargetStream& stream, std::FILE* file);

void write_target_header(TargetStream& stream);

// Writes the record's line. False, with nothing written, when its time stamp
// is not convertible.
bool write_target_record(TargetStream& stream, const SourceRecord& record, LocalTimeCache& cache);

// Hands everything buffered to the file and flushes it. False when any write
// of the stream has failed.
bool flush_target_stream(TargetStream& stream);

}  // namespace tsconv
