#include "target.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "local_time.h"
#include "output_check.h"
#include "source.h"
#include "test_support.h"

namespace {

using tsconv::SourceRecord;

const std::string header(tsconv_test::target_header);

// Every test runs without probing and with the probe span of a zone that
// keeps its offsets: the records' lines must not tell the two apart.
class WriteTarget : public testing::TestWithParam<std::int64_t> {
protected:
    // Writes the header and a line for each convertible record, returns the file.
    std::string written(const std::vector<SourceRecord>& records, int* skipped = nullptr) const {
        tsconv_test::ScratchStream target;
        tsconv::TargetStream stream;
        tsconv::open_target_stream(stream, target.file());
        tsconv::write_target_header(stream);
        tsconv::LocalTimeCache cache{GetParam()};
        tsconv::LocalTimestamp time;
        int not_written = 0;
        for (const SourceRecord& record : records) {
            if (tsconv::to_local_timestamp(record.serial_date, cache, time)) {
                tsconv::write_target_record(stream, time, record);
            } else {
                ++not_written;
            }
        }
        EXPECT_TRUE(tsconv::flush_target_stream(stream));
        if (skipped != nullptr) *skipped = not_written;
        return target.close();
    }

    // The records written together give the lines each gives written alone.
    void expect_as_if_alone(const std::vector<SourceRecord>& records, const std::string& what) const {
        std::string alone = header;
        for (const SourceRecord& record : records) alone += written({record}).substr(header.size());
        EXPECT_EQ(written(records), alone) << what;
    }
};

INSTANTIATE_TEST_SUITE_P(ProbeSpans, WriteTarget, testing::Values(0, tsconv::cache_probe_span));

TEST_P(WriteTarget, RecordLines) {
    tsconv_test::set_time_zone("CET-1");
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(written({{45000.5, 12.5, 20, 3.25},
                       {45000.50008391204, -15, 0, -0.0},
                       {45000.5, inf, -inf, 1e-7}}),
              header +
                  "15.03.2023;11:00:0.000000;12.500000;20.000000;3.250000\r\n"
                  "15.03.2023;11:00:7.250000;-15.000000;0.000000;-0.000000\r\n"
                  "15.03.2023;11:00:0.000000;inf;-inf;0.000000\r\n");
}

TEST_P(WriteTarget, UnconvertibleRecordLeavesNoTrace) {
    tsconv_test::set_time_zone("UTC0");
    int skipped = 0;
    EXPECT_EQ(written({{1e300, 1, 2, 3}}, &skipped), header);
    EXPECT_EQ(skipped, 1);
    EXPECT_EQ(written({{1e300, 1, 2, 3}, {45000, 1, 2, 3}}, &skipped),
              header + "14.03.2023;22:00:0.000000;1.000000;2.000000;3.000000\r\n");
    EXPECT_EQ(skipped, 1);
}

TEST_P(WriteTarget, LongestLinesAcrossBufferFlushes) {
    tsconv_test::set_time_zone("UTC0");
    const double max = std::numeric_limits<double>::max();
    const std::size_t records = 2000;  // several buffers full
    int skipped = 0;
    const std::string content = written(std::vector<SourceRecord>(records, {45000, -max, -max, -max}), &skipped);
    EXPECT_EQ(skipped, 0);
    const std::string line = content.substr(header.size(), content.find('\n', header.size()) + 1 - header.size());
    EXPECT_EQ(line.size(), 17u + 8u + 3 * (1 + 317) + 2);
    EXPECT_EQ(content.size(), header.size() + line.size() * records);
}

TEST_P(WriteTarget, RepeatedValuesAndMinutesWriteAsIfAlone) {
    // Texts kept from the record before must never leak into a record that
    // differs: -0 against 0, long values, changes of minute, hour and day.
    tsconv_test::set_time_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {0.0, -0.0, 0.0, 65.0, 65.0, 1e30, 1e30, -1e300, 1e-7, -1e-7, inf, inf, 12.5};
    std::vector<SourceRecord> records;
    double serial = 45011.12;  // across the change to summer time
    for (int i = 0; i < 2000; ++i) {
        serial += (i % 7 == 0 ? 0.01 : 1.0 / 86400);
        records.push_back({serial, values[i % 13], values[i / 3 % 13], values[(i * i) % 13]});
    }
    expect_as_if_alone(records, "values");
}

TEST_P(WriteTarget, ValueTextsFromTheDigitsWriteAsTheFormattedValues) {
    // Records decoded from lines, written with the texts taken from the
    // digits and again with every value formatted from its double.
    tsconv_test::set_time_zone("UTC0");
    const char* const values[] = {"63,20", "-0", ",5", "-,25", "5,", "999999,999999", "-123456,7", "0,000001",
                                  "7", "12345678,1", "0,1234567", "1e3", "05", "+2"};
    std::vector<SourceRecord> records;
    std::vector<SourceRecord> formatted;
    SourceRecord record;
    for (std::size_t i = 0; i < 500; ++i) {
        std::string line = "45000," + std::to_string(i) + ";" + values[i % 14] + ";" + values[i / 14 % 14];
        if (i % 3 != 0) line += std::string(";") + values[i * 5 % 14];  // or carried forward
        line += "\r\n";
        tsconv::decode_source_line(line.data(), line.size(), record);
        records.push_back(record);
        formatted.push_back(record);
        formatted.back().PV_text.length = formatted.back().wSP_text.length = formatted.back().wOP_text.length = 0;
    }
    EXPECT_EQ(written(records), written(formatted));
    EXPECT_NE(records[1].PV_text.length, 0);  // the texts were used
}

}  // namespace
