#include "source.h"

#include <cstring>

#include "io_block.h"

namespace tsconv {

static_assert(io_block_size > max_decoded_length, "a block holds the decoded part of a line");

namespace {

// Reads into the block from `from` on and puts a line end after the data; false when nothing came.
bool fill_block(SourceStream& stream, std::size_t from) {
    if (stream.at_end) return false;
    const std::size_t wanted = io_block_size - from;
    const std::size_t got = std::fread(stream.buffer.data() + from, 1, wanted, stream.file);
    stream.end = from + got;
    stream.buffer[stream.end] = '\n';
    stream.at_end = got < wanted;
    stream.read_failed = stream.at_end && std::ferror(stream.file) != 0;
    return got > 0;
}

// Ends the decoded part of a long line, in place of a character nothing reads again.
char* long_line(char* text) {
    text[max_decoded_length] = '\n';
    return text;
}

// A long line whose end is not in the block: its decoded part goes to the front, the rest is read
// behind it and passed over. nullptr when reading failed before the line's end.
const char* read_long_line(SourceStream& stream) {
    char* const data = stream.buffer.data();
    std::memmove(data, data + stream.begin, max_decoded_length);
    stream.end = max_decoded_length;
    while (fill_block(stream, max_decoded_length)) {
        if (const void* found = std::memchr(data + max_decoded_length, '\n', stream.end - max_decoded_length)) {
            stream.begin = static_cast<std::size_t>(static_cast<const char*>(found) - data) + 1;
            return long_line(data);
        }
    }
    stream.begin = stream.end;
    return stream.read_failed ? nullptr : long_line(data);
}

}  // namespace

void open_source_stream(SourceStream& stream, std::FILE* file) {
    stream = SourceStream{};
    stream.file = file;
    stream.buffer.assign(io_block_size + 1 + line_read_ahead, '\0');
    fill_block(stream, 0);  // all of a block, or all there is
    if (stream.end >= 3 && std::memcmp(stream.buffer.data(), "\xEF\xBB\xBF", 3) == 0) stream.begin = 3;
}

const char* read_source_line(SourceStream& stream) {
    for (;;) {
        char* const text = stream.buffer.data() + stream.begin;
        const std::size_t unread = stream.end - stream.begin;
        if (const void* found = std::memchr(text, '\n', unread)) {
            const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(found) - text);
            stream.begin += length + 1;
            return length > max_decoded_length ? long_line(text) : text;
        }
        if (stream.read_failed) return nullptr;
        if (unread >= max_decoded_length) return read_long_line(stream);
        if (!stream.at_end) {  // the unread rest to the front, more read behind it
            std::memmove(stream.buffer.data(), text, unread);
            stream.begin = 0;
            if (fill_block(stream, unread)) continue;
        }
        if (stream.read_failed || stream.begin == stream.end) return nullptr;
        const char* const last = stream.buffer.data() + stream.begin;  // without a line end of its own
        stream.begin = stream.end;
        return last;
    }
}

}  // namespace tsconv
