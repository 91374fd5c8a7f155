// An index of records by a hash of their key, for lookups that would
// otherwise walk a whole list once per record (thousands of paths against
// thousands of records). It holds only pointers to the records and their
// hashes; the caller compares the keys themselves, so the index answers
// exactly what the walk would. Its table is plain calloc'd memory: when an
// allocation fails the index gives up (Failed), and the caller walks the
// list as before.
#ifndef TSKIT_COMMON_HASH_INDEX_H
#define TSKIT_COMMON_HASH_INDEX_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

// FNV-1a over bytes, chainable: pass the result of one call as the seed of
// the next to hash several fields.
inline uint64_t HashBytes(const void* data, size_t len, uint64_t seed = 14695981039346656037ULL) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint64_t hash = seed;
    for (size_t i = 0; i < len; ++i) {
        hash = (hash ^ p[i]) * 1099511628211ULL;
    }
    return hash;
}

class HashIndex {
  public:
    HashIndex() = default;
    ~HashIndex() { Clear(); }
    HashIndex(const HashIndex&) = delete;
    HashIndex& operator=(const HashIndex&) = delete;

    // Empty, usable again.
    void Clear() {
        free(slots_);
        slots_ = nullptr;
        capacity_ = 0;
        used_ = 0;
        failed_ = false;
    }

    // True once an allocation failed: the index no longer knows every record.
    bool Failed() const { return failed_; }

    void Add(uint64_t hash, void* value) {
        if (failed_ || value == nullptr) {
            return;
        }
        if ((used_ + 1) * 2 > capacity_ && !Grow()) {
            failed_ = true;
            return;
        }
        Place(slots_, capacity_, Slot{hash, value});
        ++used_;
    }

    // Calls visit(value) for every value added under hash and not removed,
    // until visit returns true; returns that value, or nullptr.
    template <typename Visit>
    void* Find(uint64_t hash, Visit visit) const {
        if (capacity_ == 0) {
            return nullptr;
        }
        for (size_t i = hash & (capacity_ - 1);; i = (i + 1) & (capacity_ - 1)) {
            const Slot& slot = slots_[i];
            if (slot.value == nullptr) {
                return nullptr;
            }
            if (slot.value != kRemoved && slot.hash == hash && visit(slot.value)) {
                return slot.value;
            }
        }
    }

    void Remove(uint64_t hash, const void* value) {
        if (capacity_ == 0) {
            return;
        }
        for (size_t i = hash & (capacity_ - 1);; i = (i + 1) & (capacity_ - 1)) {
            Slot& slot = slots_[i];
            if (slot.value == nullptr) {
                return;
            }
            if (slot.hash == hash && slot.value == value) {
                slot.value = kRemoved;
                return;
            }
        }
    }

  private:
    struct Slot {
        uint64_t hash;
        void* value;  // nullptr: free; kRemoved: a removed record (keeps probing)
    };
    static constexpr size_t kFirstCapacity = 64;
    static inline void* const kRemoved = reinterpret_cast<void*>(static_cast<uintptr_t>(1));

    static void Place(Slot* slots, size_t capacity, const Slot& slot) {
        size_t i = slot.hash & (capacity - 1);
        while (slots[i].value != nullptr) {
            i = (i + 1) & (capacity - 1);
        }
        slots[i] = slot;
    }

    // Doubles the table (removed records are dropped on the way).
    bool Grow() {
        size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
        Slot* slots = static_cast<Slot*>(calloc(capacity, sizeof(Slot)));
        if (slots == nullptr) {
            return false;
        }
        size_t used = 0;
        for (size_t i = 0; i < capacity_; ++i) {
            if (slots_[i].value != nullptr && slots_[i].value != kRemoved) {
                Place(slots, capacity, slots_[i]);
                ++used;
            }
        }
        free(slots_);
        slots_ = slots;
        capacity_ = capacity;
        used_ = used;
        return true;
    }

    Slot* slots_ = nullptr;
    size_t capacity_ = 0;  // a power of two, or 0
    size_t used_ = 0;      // free slots are never fewer than half: probes end
    bool failed_ = false;
};

#endif  // TSKIT_COMMON_HASH_INDEX_H
