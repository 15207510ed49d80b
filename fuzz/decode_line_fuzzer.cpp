// Decodes one line held in a heap block of exactly its size, so that reading
// one byte beyond it is caught by AddressSanitizer, onto a record whose every
// value has its text, and checks the result against the reference decoder,
// and every text against its value formatted.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "output_check.h"
#include "source.h"

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
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const tsconv::SourceRecord before = sentinel_record();
    tsconv::SourceRecord record = before;
    std::unique_ptr<char[]> copy(new char[size]);
    if (size != 0) std::memcpy(copy.get(), data, size);
    const int count = tsconv_test::decode_padded_copy(std::string_view(copy.get(), size), record);

    // Also the fields not supplied: they keep what they held.
    double expected[4] = {before.serial_date, before.PV, before.wSP, before.wOP};
    const std::string problem = tsconv_test::decoded_unlike_the_model(count, record, line, expected);
    if (!problem.empty()) fail(problem.c_str());

    // The decoder leaves the text as it is.
    if (size != 0 && std::memcmp(copy.get(), data, size) != 0) fail("text changed");
    return 0;
}
