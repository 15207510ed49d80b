#include "record_queue.h"

namespace tsconv {

RecordBatch* next_batch_to_fill(RecordQueue& queue) {
    std::unique_lock<std::mutex> lock(queue.mutex);
    queue.changed.wait(lock, [&] { return queue.abandoned || queue.filled - queue.emptied < batch_slots; });
    if (queue.abandoned) return nullptr;
    RecordBatch* batch = &queue.slots[queue.filled % batch_slots];
    batch->size = 0;
    return batch;
}

void fill_done(RecordQueue& queue, bool last) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        ++queue.filled;
        queue.last_filled = last;
    }
    queue.changed.notify_all();
}

RecordBatch* next_batch_to_empty(RecordQueue& queue) {
    std::unique_lock<std::mutex> lock(queue.mutex);
    queue.changed.wait(lock, [&] { return queue.last_filled || queue.filled > queue.emptied; });
    if (queue.filled == queue.emptied) return nullptr;
    return &queue.slots[queue.emptied % batch_slots];
}

void empty_done(RecordQueue& queue) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        ++queue.emptied;
    }
    queue.changed.notify_all();
}

void abandon(RecordQueue& queue) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.abandoned = true;
    }
    queue.changed.notify_all();
}

}  // namespace tsconv
