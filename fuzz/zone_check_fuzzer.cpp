// Reads the input as the zone check meets it: as a zone file's bytes, as a TZ value (up to its first NUL), and as the
// Windows system zone's fields. Each read must stay within the input, and a zone file accepted must not be accepted
// with a byte more: its closing rule ends it exactly.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zone_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (tsconv::zone_file_keeps_offsets(bytes)) {
        bytes += '\n';
        if (tsconv::zone_file_keeps_offsets(bytes)) std::abort();
    }

    // A heap block of exactly the string and its NUL: reading past it is caught.
    const std::size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    char* tz = static_cast<char*>(std::malloc(length + 1));
    std::memcpy(tz, data, length);
    tz[length] = '\0';
    tsconv::tz_string_keeps_offsets(tz);
    std::free(tz);

    tsconv::platform::SystemZone zone;
    int fields[16] = {};
    for (std::size_t i = 0; i < 16 && i < size; ++i) fields[i] = static_cast<std::int8_t>(data[i]);
    zone.standard_bias = fields[0];
    zone.daylight_bias = fields[1];
    zone.standard_start = {fields[2], fields[3], fields[4], fields[5], fields[6], fields[7], fields[8]};
    zone.daylight_start = {0, fields[9], fields[10], fields[11], fields[12], fields[13], fields[14]};
    tsconv::windows_zone_keeps_offsets(zone, fields[15] & 1);
    return 0;
}
