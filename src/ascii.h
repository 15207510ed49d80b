#pragma once

// Characters as the source format and TZ rule strings have them, whatever the locale.

namespace tsconv {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace tsconv
