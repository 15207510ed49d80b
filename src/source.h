#pragma once

// Reading the source: its physical lines, out of large blocks of the file.

#include <cstddef>
#include <cstdio>
#include <vector>

#include "source_record.h"

namespace tsconv {

// A buffered reader over the source. Reads large blocks; memory stays the same
// however long the file or any of its lines.
struct SourceStream {
    std::FILE* file = nullptr;
    // The block read, always followed by a line end and room to read ahead.
    std::vector<char> buffer;
    std::size_t begin = 0;  // unread data is buffer[begin, end)
    std::size_t end = 0;
    bool at_end = false;       // nothing more to read from the file
    bool read_failed = false;  // the file reported a read error
};

// Starts reading the file. A UTF-8 byte order mark at its very start is passed over.
void open_source_stream(SourceStream& stream, std::FILE* file);

// The decoded part of the next physical line, where it lies in the block, as
// decode_source_line takes it: ended by a line end (for a line longer than
// max_decoded_length, one put there in place of its next character) and
// followed by line_read_ahead readable characters. Valid until the next read.
// nullptr when no line is left or a read failed (then stream.read_failed is
// set).
const char* read_source_line(SourceStream& stream);

}  // namespace tsconv
