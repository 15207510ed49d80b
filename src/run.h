#pragma once

// The conversion run: the command line, the files, the single pass over the
// source, and every message the user sees.

#include <cstdio>

namespace tsconv {

enum class ConversionResult { completed, source_read_failed, target_write_failed };

// Decoding and writing overlap on two threads where the process may run on
// more than one processor; the output is the same either way.
enum class Threading { automatic, single };

// Writes the header and one record line per source line that supplies a
// value. A record whose time stamp cannot be converted is left out and named
// by its line number on warnings. Stops at the first failed read or write;
// everything converted before is flushed to the target where possible.
ConversionResult convert_source(std::FILE* source, std::FILE* target, std::FILE* warnings,
                                Threading threading = Threading::automatic);

// The whole program: "tsconv SOURCE dummy TARGET". Returns the exit status,
// 0 on success and -1 after a failure, which has been reported on standard
// output.
int run_tsconv(int argc, char** argv);

}  // namespace tsconv
