#include "target.h"

#include <cstring>

#include "calendar.h"
#include "fixed_point.h"
#include "io_block.h"
#include "platform.h"

namespace tsconv {

namespace {

constexpr char header[] = "Datum;Zeit;LP1_Main.PV;LP1_Main.wSP;LP1_Main.wOP\r\n";

constexpr std::size_t max_seconds_length = sizeof "60.999999" - 1;
constexpr std::size_t max_record_length =
    minute_text_length + max_seconds_length + 3 * (1 + fixed6_max_length) + sizeof "\r\n" - 1;
static_assert(io_block_size >= max_record_length, "a block holds the longest record line");
static_assert(max_value_text_length <= fixed6_max_length, "a value text takes no more room than a formatted value");

// After a failed write, back to the last complete line, where the file can be cut.
void keep_complete_lines(TargetStream& stream, std::size_t handed_over) {
    std::size_t complete = handed_over;
    while (complete > 0 && stream.buffer[complete - 1] != '\n') --complete;
    platform::truncate_file(stream.file, stream.written + complete);
}

void write_buffered(TargetStream& stream) {
    if (stream.used != 0 && !stream.write_failed) {
        const std::size_t handed_over = std::fwrite(stream.buffer.data(), 1, stream.used, stream.file);
        stream.write_failed = handed_over != stream.used;
        if (stream.write_failed) keep_complete_lines(stream, handed_over);
        stream.written += handed_over;
    }
    stream.used = 0;
}

char* reserve(TargetStream& stream, std::size_t length) {
    if (stream.buffer.size() - stream.used < length) write_buffered(stream);
    return stream.buffer.data() + stream.used;
}

void write_minute(char* out, std::int64_t minute) {
    const CivilMinute civil = civil_minute(minute);
    std::memcpy(out, "DD.MM.YYYY;HH:MM:", minute_text_length);
    write_two_digits(out, civil.day);
    write_two_digits(out + 3, civil.month);
    write_two_digits(out + 6, civil.year / 100);
    write_two_digits(out + 8, civil.year % 100);
    write_two_digits(out + 11, civil.hour);
    write_two_digits(out + 14, civil.minute);
}

// ";" and a value: its text where the decoder took one, else its double formatted.
char* write_value(char* out, double value, const ValueText& shown) {
    *out++ = ';';
    if (shown.length == 0) return format_fixed6(out, value);
    std::memcpy(out, shown.text, max_value_text_length);
    return out + shown.length;
}

}  // namespace

void open_target_stream(TargetStream& stream, std::FILE* file) {
    stream = TargetStream{};
    stream.file = file;
    stream.buffer.assign(io_block_size, '\0');
}

void write_target_header(TargetStream& stream) {
    char* out = reserve(stream, sizeof header - 1);
    std::memcpy(out, header, sizeof header - 1);
    stream.used += sizeof header - 1;
}

void write_target_record(TargetStream& stream, const LocalTimestamp& time, const SourceRecord& record) {
    char* const line = reserve(stream, max_record_length);
    if (time.minute != stream.minute_shown) {
        write_minute(stream.minute_text, time.minute);
        stream.minute_shown = time.minute;
    }
    std::memcpy(line, stream.minute_text, minute_text_length);
    char* out = write_fixed6(line + minute_text_length, static_cast<std::uint64_t>(time.second), time.millionths);
    out = write_value(out, record.PV, record.PV_text);
    out = write_value(out, record.wSP, record.wSP_text);
    out = write_value(out, record.wOP, record.wOP_text);
    *out++ = '\r';
    *out++ = '\n';
    stream.used += static_cast<std::size_t>(out - line);
}

bool flush_target_stream(TargetStream& stream) {
    write_buffered(stream);
    if (!stream.write_failed && std::fflush(stream.file) != 0) stream.write_failed = true;
    return !stream.write_failed;
}

}  // namespace tsconv
