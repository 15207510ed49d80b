// The target writer: the header, and a record line for each record written.

#include "target.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "calendar.h"
#include "fixed_point.h"
#include "format_model.h"
#include "local_time.h"
#include "test_support.h"

namespace {

using namespace tsconv_test;
using tsconv::SourceRecord;

// Writes the header and a line for each convertible record in the zone set up now, with the cache's
// probe span given; returns the file, and in `skipped` how many records were left out.
std::string written(const std::vector<SourceRecord>& records, int* skipped = nullptr,
                    std::int64_t probe_span = tsconv::cache_probe_span) {
    ScratchStream target;
    tsconv::TargetStream stream;
    tsconv::open_target_stream(stream, target.file());
    tsconv::write_target_header(stream);
    tsconv::LocalZone zone = tsconv::load_local_zone();
    tsconv::LocalTimeCache cache{&zone, probe_span};
    tsconv::LocalTimestamp time;
    int not_written = 0;
    for (const SourceRecord& record : records) {
        const bool convertible = tsconv::to_local_timestamp(record.serial_date, cache, time);
        if (convertible) tsconv::write_target_record(stream, time, record);
        not_written += convertible ? 0 : 1;
    }
    EXPECT_TRUE(tsconv::flush_target_stream(stream));
    if (skipped != nullptr) *skipped = not_written;
    return target.close();
}

// The records written together, with the cache probing and without, give the lines each gives written
// alone: on a stream and a cache of its own, the line taken from the stream's buffer.
void expect_as_if_alone(const std::vector<SourceRecord>& records, const std::string& what) {
    tsconv::LocalZone zone = tsconv::load_local_zone();
    std::string alone = header;
    for (const SourceRecord& one : records) {
        tsconv::TargetStream stream;
        tsconv::open_target_stream(stream, nullptr);
        tsconv::LocalTimeCache cache{&zone, 0};
        tsconv::LocalTimestamp time;
        if (tsconv::to_local_timestamp(one.serial_date, cache, time)) tsconv::write_target_record(stream, time, one);
        alone.append(stream.buffer.data(), stream.used);
    }
    for (const std::int64_t probe_span : {std::int64_t{0}, tsconv::cache_probe_span}) {
        EXPECT_EQ(written(records, nullptr, probe_span), alone) << what << ", probe span " << probe_span;
    }
}

TEST(WriteTarget, RecordLines) {
    // A line for each convertible record; an unconvertible one leaves no trace.
    const struct { const char* zone; std::vector<SourceRecord> records; int skipped; std::string lines; } cases[] = {
        {"CET-1", {{45000.5, 12.5, 20, 3.25}, {45000.50008391204, -15, 0, -0.0}, {45000.5, inf, -inf, 1e-7}}, 0,
         "15.03.2023;11:00:0.000000;12.500000;20.000000;3.250000\r\n"
         "15.03.2023;11:00:7.250000;-15.000000;0.000000;-0.000000\r\n"
         "15.03.2023;11:00:0.000000;inf;-inf;0.000000\r\n"},
        {"UTC0", {{1e300, 1, 2, 3}}, 1, ""},
        {"UTC0", {{25569.083333333336, 1, 2, 3}}, 0, "01.01.1970;00:00:0.000000;1.000000;2.000000;3.000000\r\n"},
        {"UTC0", {{1e300, 1, 2, 3}, {45000, 1, 2, 3}}, 1, "14.03.2023;22:00:0.000000;1.000000;2.000000;3.000000\r\n"},
    };
    for (const auto& c : cases) {
        set_time_zone(c.zone);
        int skipped = -1;
        EXPECT_EQ(written(c.records, &skipped), header + c.lines) << c.records.size() << " records in " << c.zone;
        EXPECT_EQ(skipped, c.skipped) << c.records.size() << " records in " << c.zone;
    }
}

TEST(WriteTarget, LongestLinesAcrossBufferFlushes) {
    set_time_zone("UTC0");
    const double max = std::numeric_limits<double>::max();
    const std::size_t records = 2000;  // several buffers full
    int skipped = 0;
    const std::string content = written(std::vector<SourceRecord>(records, {45000, -max, -max, -max}), &skipped);
    EXPECT_EQ(skipped, 0);
    const std::string line = content.substr(header.size(), content.find('\n', header.size()) + 1 - header.size());
    EXPECT_EQ(line.size(), tsconv::minute_text_length + 8 + 3 * (1 + tsconv::fixed6_max_length) + 2);
    EXPECT_EQ(content.size(), header.size() + line.size() * records);
}

TEST(WriteTarget, RepeatedValuesAndMinutesWriteAsIfAlone) {
    // Texts kept from the record before must never leak into a record that
    // differs: -0 against 0, long values, changes of minute, hour and day.
    set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const double values[] = {0.0, -0.0, 0.0, 65.0, 65.0, 1e30, 1e30, -1e300, 1e-7, -1e-7, inf, inf, 12.5};
    std::vector<SourceRecord> records;
    double serial = 45011.12;  // across the change to summer time
    for (int i = 0; i < 2000; ++i) {
        serial += (i % 7 == 0 ? 0.01 : 1.0 / 86400);
        records.push_back({serial, values[i % 13], values[i / 3 % 13], values[(i * i) % 13]});
    }
    expect_as_if_alone(records, "values");
}

// A record at the UTC instant, in seconds since 1970-01-01.
SourceRecord at(double unix_seconds) { return {serial_from_unix(unix_seconds), 1, 2, 3}; }

// The serial date of a local clock time in a zone one hour ahead of UTC.
double serial(int year, int month, int day, int hour, int minute, double second = 0) {
    return static_cast<double>(tsconv::days_from_civil(year, month, day)) + 25569 +
           ((hour + 1) * 3600 + minute * 60 + second) / 86400;
}

TEST(WriteTarget, MinutesThatShareAllFieldsButOneAsIfAlone) {
    // Records alternating, two by two, between two minutes that differ in one field only:
    // neither the text nor the cached minute of the one may be taken for the other's.
    set_time_zone("CET-1");
    const struct { const char* field; double a, b; } pairs[] = {
        {"year", serial(2023, 1, 15, 10, 20), serial(2024, 1, 15, 10, 20)},   // 365 days
        {"leap year", serial(2024, 1, 15, 10, 20), serial(2025, 1, 15, 10, 20)},  // 366 days
        {"year across February 29", serial(2023, 3, 15, 10, 20), serial(2024, 3, 15, 10, 20)},
        {"century", serial(1999, 12, 31, 23, 59), serial(2099, 12, 31, 23, 59)},
        {"year 9999", serial(9998, 6, 1, 0, 0), serial(9999, 6, 1, 0, 0)},
        {"month", serial(2023, 1, 15, 10, 20), serial(2023, 2, 15, 10, 20)},
        {"month after February 29", serial(2024, 2, 15, 10, 20), serial(2024, 3, 15, 10, 20)},
        {"day", serial(2023, 1, 15, 10, 20), serial(2023, 1, 16, 10, 20)},
        {"hour", serial(2023, 1, 15, 10, 20), serial(2023, 1, 15, 11, 20)},
        {"minute", serial(2023, 1, 15, 10, 20), serial(2023, 1, 15, 10, 21)},
        {"2^32 minutes, as a 32-bit key", serial(1000, 1, 1, 0, 0), serial(1000, 1, 1, 0, 0) + 4294967296.0 / 1440},
    };
    for (const auto& pair : pairs) {
        std::vector<SourceRecord> records;
        for (int i = 0; i < 12; ++i) {
            const double within_minute = (i * 7 % 60 + 0.25) / 86400;
            records.push_back({(i % 4 >= 2 ? pair.b : pair.a) + within_minute, 1, 2, 3});
        }
        expect_as_if_alone(records, pair.field);
    }
}

TEST(WriteTarget, LeapSecondsAsIfAlone) {
    // Records before, at and after a leap second, in order and out of order: right/UTC's at the end of 2016, and two
    // in a row in a zone file of our own, whose second shows as second 61: no time a record can show.
    const std::string doubled = scratch_folder() + "/Doubled";
    write_file(doubled, zone_file_bytes({{}, {1681128000, 1681128001}}));
    // The leap second in seconds since 1970-01-01 as the zone counts them.
    const struct { std::string zone; double leap; int unshowable; } cases[] = {
        {"right/UTC", 1483228826, 0}, {doubled, 1681128000 + 2, 2}};
    for (const auto& c : cases) {
        if (c.zone[0] != '/' && !has_zone_file(c.zone.c_str())) continue;
        set_time_zone(c.zone.c_str());
        std::vector<SourceRecord> in_order, out_of_order;
        for (int i = 0; i < 16; ++i) {
            in_order.push_back(at(c.leap - 4 + i * 0.5));
            out_of_order.push_back(at(c.leap + ((i * 5) % 16 - 8) * 0.5));
        }
        expect_as_if_alone(in_order, c.zone + " in order");
        expect_as_if_alone(out_of_order, c.zone + " out of order");
        // A probe of the cache that lands on the leap second itself.
        const double probed_at = c.leap - tsconv::cache_probe_span + 0.25;
        expect_as_if_alone({at(probed_at), at(c.leap + 0.25), at(c.leap + 1.25), at(c.leap - 0.75)},
                           c.zone + " probed at the leap second");
        int skipped = 0;
        EXPECT_NE(written(in_order, &skipped).find(":60.500000;"), std::string::npos) << c.zone;
        EXPECT_EQ(skipped, c.unshowable) << c.zone;
    }
}

TEST(WriteTarget, ValueTextsFromTheDigitsWriteAsTheFormattedValues) {
    // Records decoded from lines, written with the texts taken from the
    // digits and again with every value formatted from its double.
    set_time_zone("UTC0");
    const char* const values[] = {"63,20", "-0", ",5", "-,25", "5,", "999999,999999", "-123456,7", "0,000001",
                                  "7", "12345678,1", "0,1234567", "1e3", "05", "+2"};
    std::vector<SourceRecord> records, formatted;
    SourceRecord record;
    for (std::size_t i = 0; i < 500; ++i) {
        std::string line = "45000," + std::to_string(i) + ";" + values[i % 14] + ";" + values[i / 14 % 14];
        if (i % 3 != 0) line += std::string(";") + values[i * 5 % 14];  // or carried forward
        decode_padded_copy(line + "\r\n", record);
        records.push_back(record);
        formatted.push_back(record);
        formatted.back().PV_text.length = formatted.back().wSP_text.length = formatted.back().wOP_text.length = 0;
    }
    EXPECT_EQ(written(records), written(formatted));
    EXPECT_NE(records[1].PV_text.length, 0);  // the texts were used
}

}  // namespace
