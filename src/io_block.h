#pragma once

#include <cstddef>

// How much of the source is read, and of the target written, at a time: enough
// that system calls cost little per line. The fuzz build makes it small, so
// that block ends fall inside short sources.
#ifndef TSCONV_BLOCK_SIZE
#define TSCONV_BLOCK_SIZE (256 * 1024)
#endif

namespace tsconv {

constexpr std::size_t io_block_size = TSCONV_BLOCK_SIZE;

// What the reader promises the decoder about a line in its block: at most max_decoded_length
// characters before its line end (the rest of a longer line is passed over), and line_read_ahead
// readable characters after that, as the decoder reads eight characters at a time.
constexpr std::size_t max_decoded_length = 399;
constexpr std::size_t line_read_ahead = 7;

}  // namespace tsconv
