#pragma once

// Reading the source: its lines, each where it lies in a large block of the file.

#include <cstdio>
#include <vector>

namespace tsconv {

// Memory stays the same however long the file or any of its lines.
struct SourceStream {
    std::FILE* file = nullptr;
    std::vector<char> buffer;  // a block, always a line end after its data, and room to read ahead
    std::size_t begin = 0;     // unread data is buffer[begin, end)
    std::size_t end = 0;
    bool at_end = false;       // nothing more to read from the file
    bool read_failed = false;  // the file reported a read error
};

void open_source_stream(SourceStream& stream, std::FILE* file);  // passes over a UTF-8 byte order mark

// The decoded part of the next line where it lies in the block, as decode_source_line takes it
// (a longer line gets a line end in place of its next character), valid until the next read.
// nullptr when no line is left or a read failed (then stream.read_failed is set).
const char* read_source_line(SourceStream& stream);

}  // namespace tsconv
