#pragma once

// Hands decoded records from the decoding stage to the writing stage in
// batches, in order, through a fixed number of slots: memory stays the same
// however large the source.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

#include "source_record.h"

namespace tsconv {

struct DecodedRecord {
    SourceRecord record;  // the current record after its line was decoded
    unsigned long long line_number;
};

constexpr std::size_t records_per_batch = 4096;
constexpr std::size_t batch_slots = 4;

struct RecordBatch {
    DecodedRecord records[records_per_batch];
    std::size_t size = 0;
};

struct RecordQueue {
    std::unique_ptr<RecordBatch[]> slots{new RecordBatch[batch_slots]};
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t filled = 0;   // batches handed over so far
    std::size_t emptied = 0;  // batches given back so far
    bool last_filled = false;  // the decoding stage has handed over its last batch
    bool abandoned = false;    // the writing stage stopped taking batches
};

// Decoding stage: a free slot to fill, or null when the writing stage has
// stopped. The slot belongs to the caller until fill_done.
RecordBatch* next_batch_to_fill(RecordQueue& queue);
void fill_done(RecordQueue& queue, bool last);

// Writing stage: the next filled batch in order, or null after the last one.
// The batch belongs to the caller until empty_done.
RecordBatch* next_batch_to_empty(RecordQueue& queue);
void empty_done(RecordQueue& queue);

// Writing stage: no more batches will be taken.
void abandon(RecordQueue& queue);

}  // namespace tsconv
