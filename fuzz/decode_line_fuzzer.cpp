// Decodes one line where it lies, as the reader hands it over: its line end and the input's next characters after it,
// in a heap block that ends where the decoder may read no further, so that AddressSanitizer catches a read beyond.
// The record starts with every value and text set; the result is checked against the reference decoder, and every
// text against its value formatted.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "format_model.h"
#include "fuzz_failure.h"
#include "io_block.h"
#include "line_decoder.h"

namespace {

[[noreturn]] void fail(const char* what) { tsconv_test::fuzz_failure("decode_line_fuzzer", what); }

// Values no line can produce, each with its text, so that a field written by
// mistake shows, and so does a text left behind by a value that changed.
tsconv::SourceRecord sentinel_record() {
    tsconv::SourceRecord record;
    record.serial_date = -1.0 / 3;
    record.PV = 7e-300;
    record.wSP = -0.0;
    record.wOP = 12345.678;
    for (auto field : {std::make_pair(record.PV, &record.PV_text), std::make_pair(record.wSP, &record.wSP_text),
                       std::make_pair(record.wOP, &record.wOP_text)}) {
        const std::string text = tsconv_test::formatted(field.first);
        std::memcpy(field.second->text, text.data(), text.size());
        field.second->length = static_cast<unsigned char>(text.size());
    }
    return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view line = input.substr(0, std::min(input.find('\n'), tsconv::max_decoded_length));
    const std::string_view after = input.substr(std::min(input.size(), line.size() + 1));
    std::unique_ptr<char[]> block(new char[line.size() + 1 + tsconv::line_read_ahead]());
    std::copy(line.begin(), line.end(), block.get());
    block[line.size()] = '\n';
    std::copy_n(after.begin(), std::min(after.size(), tsconv::line_read_ahead), block.get() + line.size() + 1);
    const tsconv::SourceRecord before = sentinel_record();
    tsconv::SourceRecord record = before;
    const int count = tsconv::decode_source_line(block.get(), record);

    // Also the fields not supplied: they keep what they held.
    double expected[4] = {before.serial_date, before.PV, before.wSP, before.wOP};
    const std::string problem = tsconv_test::decoded_unlike_the_model(count, record, line, expected);
    if (!problem.empty()) fail(problem.c_str());
    return 0;
}
