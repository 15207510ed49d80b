#include "target.h"

#include <cstring>

#include "fixed_point.h"

namespace tsconv {

namespace {

constexpr std::size_t write_block_size = 256 * 1024;

constexpr char header[] = "Datum;Zeit;LP1_Main.PV;LP1_Main.wSP;LP1_Main.wOP\r\n";

// "DD.MM.YYYY;HH:MM:" + seconds + three values, each after ";", + CR LF, and
// room for a whole kept column text copied after the last value.
constexpr std::size_t max_record_length = 17 + 4 * (1 + fixed6_max_length) + 2 + 32;

void write_buffered(TargetStream& stream) {
    if (stream.used == 0 || stream.write_failed) {
        stream.used = 0;
        return;
    }
    if (std::fwrite(stream.buffer.data(), 1, stream.used, stream.file) != stream.used) {
        stream.write_failed = true;
    }
    stream.used = 0;
}

// Room for one more line in the buffer.
char* reserve(TargetStream& stream, std::size_t length) {
    if (stream.buffer.size() - stream.used < length) write_buffered(stream);
    return stream.buffer.data() + stream.used;
}

// Two digits with a leading zero; values from 0 to 99.
char* write_two_digits(char* out, int value) {
    out[0] = static_cast<char>('0' + value / 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

bool same_minute(const LocalTimestamp& a, const LocalTimestamp& b) {
    return a.minute == b.minute && a.hour == b.hour && a.day == b.day && a.month == b.month &&
           a.year == b.year;
}

char* write_minute(char* out, const LocalTimestamp& time) {
    out = write_two_digits(out, time.day);
    *out++ = '.';
    out = write_two_digits(out, time.month);
    *out++ = '.';
    out = write_two_digits(out, time.year / 100);
    out = write_two_digits(out, time.year % 100);
    *out++ = ';';
    out = write_two_digits(out, time.hour);
    *out++ = ':';
    out = write_two_digits(out, time.minute);
    *out++ = ':';
    return out;
}

char* write_value(char* out, double value, ColumnText& kept) {
    if (kept.length != 0 && std::memcmp(&kept.value, &value, sizeof value) == 0) {
        std::memcpy(out, kept.text, sizeof kept.text);  // whole array: a fixed-size copy
        return out + kept.length;
    }
    char* const end = format_fixed6(out, value);
    const std::size_t length = static_cast<std::size_t>(end - out);
    kept.value = value;
    kept.length = length <= sizeof kept.text ? length : 0;
    if (kept.length != 0) std::memcpy(kept.text, out, length);
    return end;
}

}  // namespace

void open_target_stream(TargetStream& stream, std::FILE* file) {
    stream.file = file;
    stream.buffer.assign(write_block_size, '\0');
    stream.used = 0;
    stream.write_failed = false;
    stream.minute_known = false;
    for (ColumnText& column : stream.values) column.length = 0;
}

void write_target_header(TargetStream& stream) {
    char* out = reserve(stream, sizeof header - 1);
    std::memcpy(out, header, sizeof header - 1);
    stream.used += sizeof header - 1;
}

bool write_target_record(TargetStream& stream, const SourceRecord& record, LocalTimeCache& cache) {
    LocalTimestamp time;
    if (!to_local_timestamp(record.serial_date, cache, time)) return false;
    char* const line = reserve(stream, max_record_length);
    if (!stream.minute_known || !same_minute(time, stream.minute_shown)) {
        write_minute(stream.minute_text, time);
        stream.minute_shown = time;
        stream.minute_known = true;
    }
    std::memcpy(line, stream.minute_text, sizeof stream.minute_text);
    char* out = format_fixed6(line + sizeof stream.minute_text, time.second);
    const double values[] = {record.PV, record.wSP, record.wOP};
    for (int column = 0; column < 3; ++column) {
        *out++ = ';';
        out = write_value(out, values[column], stream.values[column]);
    }
    *out++ = '\r';
    *out++ = '\n';
    stream.used += static_cast<std::size_t>(out - line);
    return true;
}

bool flush_target_stream(TargetStream& stream) {
    write_buffered(stream);
    if (!stream.write_failed && std::fflush(stream.file) != 0) stream.write_failed = true;
    return !stream.write_failed;
}

}  // namespace tsconv
