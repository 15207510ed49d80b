#pragma once

// Streams over memory (glibc's fopencookie), for sources and targets that fail where a test says.
#ifdef __GLIBC__

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace tsconv_test {

// Reading gives `data` and fails with EIO once `limit` bytes are read; writing
// keeps what is written and fails with ENOSPC once `room` bytes are written.
struct MemoryFile {
    std::string_view data = {};
    std::size_t limit = std::string_view::npos;
    std::string written = {};
    std::size_t room = std::string_view::npos;
    std::size_t position = 0;
};

inline ssize_t read_memory(void* cookie, char* buffer, std::size_t size) {
    MemoryFile& memory = *static_cast<MemoryFile*>(cookie);
    if (memory.position == memory.data.size()) return 0;  // the end, read whole
    if (memory.position >= memory.limit) {
        errno = EIO;
        return -1;
    }
    const std::size_t n = std::min({size, memory.limit - memory.position, memory.data.size() - memory.position});
    std::memcpy(buffer, memory.data.data() + memory.position, n);
    memory.position += n;
    return static_cast<ssize_t>(n);
}

inline ssize_t write_memory(void* cookie, const char* buffer, std::size_t size) {
    MemoryFile& memory = *static_cast<MemoryFile*>(cookie);
    const std::size_t n = std::min(size, memory.room - memory.written.size());
    if (n == 0) {
        errno = ENOSPC;
        return -1;
    }
    memory.written.append(buffer, n);
    return static_cast<ssize_t>(n);
}

inline std::FILE* open_memory_file(MemoryFile& memory, const char* mode) {
    return fopencookie(&memory, mode, cookie_io_functions_t{read_memory, write_memory, nullptr, nullptr});
}

}  // namespace tsconv_test

#endif
