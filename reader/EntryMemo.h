// A small memo, owned by one reader object, of the index entries its size
// lookups read and of the file's length.
//
// A host reads a tile by asking its size and then reading it. Both calls need
// the tile's 12-byte index entry; remembering it from the first call lets the
// second read only the payload (one read call instead of two), and makes the
// second read exactly the entry whose size the host sized its buffer from.
//
// Any number of threads may use one object: the memo is a direct-mapped table
// of slots, each a sequence lock over atomic fields. A writer that finds its
// slot busy skips it, and a reader that sees a slot change under it misses;
// either way the caller reads the entry from the file, so the memo can only
// save work, never return an entry that belongs to another position. Opening
// a file clears it (the open method never runs beside another call).
#ifndef VELTRANE_READER_ENTRYMEMO_H
#define VELTRANE_READER_ENTRYMEMO_H

#include <atomic>

namespace vt {

struct TileEntry {
    long long offset;  // of the payload's first byte
    int size;          // payload bytes; 0: no payload
};

class EntryMemo {
public:
    EntryMemo() { Clear(); }

    void Clear() {
        for (Slot& slot : slots_) slot.position.store(-1, std::memory_order_relaxed);
        fileLength.store(-1, std::memory_order_relaxed);
    }

    void Put(long long position, const TileEntry& entry) {
        Slot& slot = SlotOf(position);
        unsigned int sequence = slot.sequence.load(std::memory_order_relaxed);
        if ((sequence & 1u) != 0 ||
            !slot.sequence.compare_exchange_strong(sequence, sequence + 1, std::memory_order_relaxed))
            return;  // another thread is writing this slot
        std::atomic_thread_fence(std::memory_order_release);
        slot.position.store(position, std::memory_order_relaxed);
        slot.offset.store(entry.offset, std::memory_order_relaxed);
        slot.size.store(entry.size, std::memory_order_relaxed);
        slot.sequence.store(sequence + 2, std::memory_order_release);
    }

    bool Get(long long position, TileEntry& entry) const {
        const Slot& slot = SlotOf(position);
        const unsigned int before = slot.sequence.load(std::memory_order_acquire);
        if ((before & 1u) != 0) return false;
        const long long found = slot.position.load(std::memory_order_relaxed);
        const long long offset = slot.offset.load(std::memory_order_relaxed);
        const int size = slot.size.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.sequence.load(std::memory_order_relaxed) != before || found != position) return false;
        entry.offset = offset;
        entry.size = size;
        return true;
    }

    // The file's length as last learnt; -1 before it is.
    std::atomic<long long> fileLength;

private:
    // Consecutive entries fall into different slots, so the tiles that
    // several threads read at once rarely share one.
    static constexpr int kSlots = 64;
    struct Slot {
        std::atomic<unsigned int> sequence{0};  // odd while a writer fills the slot
        std::atomic<long long> position{-1};
        std::atomic<long long> offset{0};
        std::atomic<int> size{0};
    };
    Slot& SlotOf(long long position) { return slots_[static_cast<unsigned long long>(position / 12) % kSlots]; }
    const Slot& SlotOf(long long position) const {
        return slots_[static_cast<unsigned long long>(position / 12) % kSlots];
    }
    Slot slots_[kSlots];
};

}  // namespace vt

#endif  // VELTRANE_READER_ENTRYMEMO_H
