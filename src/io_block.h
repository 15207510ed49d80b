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
}  // namespace tsconv
