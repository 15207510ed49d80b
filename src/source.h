#pragma once

// The source side: reading physical lines from the source file and decoding
// the serial date and the three values out of each.

#include <cstddef>
#include <cstdio>
#include <vector>

#include "source_record.h"

namespace tsconv {

// Only the first 399 characters of a line are decoded; the rest of a longer
// line is passed over, never taken as a line of its own.
constexpr std::size_t max_decoded_length = 399;

// The decoder takes eight characters at a time, from anywhere up to the last
// character of a line: it reads up to seven characters beyond the line.
constexpr std::size_t line_read_ahead = 7;

// A buffered reader over the source. Reads large blocks; memory stays the same
// however long the file or any of its lines.
struct SourceStream {
    std::FILE* file = nullptr;
    // The data read, always followed by a line end, so that no scan runs
    // past it, and room to read ahead after that.
    std::vector<char> buffer;
    std::size_t begin = 0;  // unread data is buffer[begin, end)
    std::size_t end = 0;
    bool at_end = false;       // nothing more to read from the file
    bool read_failed = false;  // the file reported a read error
    bool start_checked = false;
    // The decoded part of a line longer than the buffer holds, and room to read ahead.
    char long_line_start[max_decoded_length + line_read_ahead];
};

// The decodable part of one physical line: its first characters, at most
// max_decoded_length, including the line end when it fits, followed by at
// least line_read_ahead readable characters. Points into the stream and is
// valid until the next read.
struct SourceLine {
    const char* text = nullptr;
    std::size_t length = 0;
};

void open_source_stream(SourceStream& stream, std::FILE* file);

// Reads the next physical line. False when no line is left or a read failed
// (then stream.read_failed is set). A UTF-8 byte order mark at the very start
// of the source is passed over.
bool read_source_line(SourceStream& stream, SourceLine& line);

// What read_and_decode_source_line returns when no line is left or a read failed.
constexpr int no_line_read = -1;

// Reads the next line and decodes it into the record, as read_source_line
// and decode_source_line do in turn. Returns how many values it supplied, 0
// to 4, or no_line_read. A read that fails within a line longer than the
// decoded part may leave that line's values in the record.
int read_and_decode_source_line(SourceStream& stream, SourceRecord& record);

// Scans "number;number;number;number" from the start of the text into the
// record, field by field, stopping at the first character that does not fit.
// Returns how many values were stored, 0 to 4; fields not supplied keep their
// values. A "," counts as a decimal point. Decodes at most the first
// max_decoded_length characters and reads nothing beyond them or beyond
// text + length; the text is not changed.
int decode_source_line(const char* text, std::size_t length, SourceRecord& record);

}  // namespace tsconv
