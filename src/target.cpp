#include "target.h"

#include <cstring>

#include "fixed_point.h"

namespace tsconv {

namespace {

constexpr std::size_t write_block_size = 256 * 1024;

constexpr char header[] = "Datum;Zeit;LP1_Main.PV;LP1_Main.wSP;LP1_Main.wOP\r\n";

// "DD.MM.YYYY;HH:MM:" + seconds + three values, each after ";", + CR LF.
constexpr std::size_t max_record_length = 17 + 4 * (1 + fixed6_max_length) + 2;

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

}  // namespace

void open_target_stream(TargetStream& stream, std::FILE* file) {
    stream.file = file;
    // The stream's own buffer would only add a copy: blocks go straight out.
    std::setvbuf(file, nullptr, _IONBF, 0);
    stream.buffer.assign(write_block_size, '\0');
    stream.used = 0;
    stream.write_failed = false;
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
    char* out = write_two_digits(line, time.day);
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
    out = format_fixed6(out, time.second);
    for (const double value : {record.PV, record.wSP, record.wOP}) {
        *out++ = ';';
        out = format_fixed6(out, value);
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
