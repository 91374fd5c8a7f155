// HashIndex against a plain list: every lookup gives what a walk gives, also
// across growth, removals and colliding hashes.
#include "hash_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Record {
    std::string key;
    bool removed = false;
};

uint64_t KeyHash(const std::string& key, bool collide) {
    return collide ? key.size() : HashBytes(key.data(), key.size());
}

// The first record with the key that the index still holds, as a walk finds it.
const Record* Walk(const std::vector<Record*>& records, const std::string& key) {
    for (const Record* r : records) {
        if (!r->removed && r->key == key) {
            return r;
        }
    }
    return nullptr;
}

TEST(HashIndex, FindsWhatTheWalkFindsThroughGrowthAndRemovals) {
    for (bool collide : {false, true}) {
        std::mt19937 rng(5);
        std::vector<Record*> records;
        HashIndex index;
        for (int i = 0; i < 3000; ++i) {
            records.push_back(new Record{"k" + std::to_string(rng() % 900)});
            index.Add(KeyHash(records.back()->key, collide), records.back());
            if (i % 7 == 0) {
                Record* victim = records[rng() % records.size()];
                if (!victim->removed) {
                    victim->removed = true;
                    index.Remove(KeyHash(victim->key, collide), victim);
                }
            }
        }
        ASSERT_FALSE(index.Failed());
        for (int k = 0; k < 1000; ++k) {
            std::string key = "k" + std::to_string(k);
            // A live record with the key exactly when the walk finds one.
            void* found = index.Find(KeyHash(key, collide), [&key](void* value) {
                return static_cast<Record*>(value)->key == key;
            });
            const Record* walked = Walk(records, key);
            EXPECT_EQ(found != nullptr, walked != nullptr) << key << " collide=" << collide;
            if (found != nullptr) {
                EXPECT_EQ(static_cast<Record*>(found)->key, key);
                EXPECT_FALSE(static_cast<Record*>(found)->removed);
            }
        }
        for (Record* r : records) {
            delete r;
        }
    }
}

TEST(HashIndex, FirstAddedRecordOfAKeyIsFoundFirst) {
    HashIndex index;
    Record first{"same"};
    Record second{"same"};
    index.Add(7, &first);
    index.Add(7, &second);
    EXPECT_EQ(index.Find(7, [](void*) { return true; }), &first);
    index.Remove(7, &first);
    EXPECT_EQ(index.Find(7, [](void*) { return true; }), &second);
    index.Remove(7, &second);
    EXPECT_EQ(index.Find(7, [](void*) { return true; }), nullptr);
}

TEST(HashIndex, EmptyAndClearedIndexFindsNothing) {
    HashIndex index;
    EXPECT_EQ(index.Find(1, [](void*) { return true; }), nullptr);
    index.Remove(1, &index);
    Record r{"x"};
    index.Add(1, &r);
    index.Clear();
    EXPECT_EQ(index.Find(1, [](void*) { return true; }), nullptr);
    EXPECT_FALSE(index.Failed());
}

TEST(HashBytes, ChainsOverFields) {
    const char a[] = "2100aa";
    const char b[] = "2200bb";
    uint64_t chained = HashBytes(b, sizeof b, HashBytes(a, sizeof a));
    char joined[sizeof a + sizeof b];
    std::memcpy(joined, a, sizeof a);
    std::memcpy(joined + sizeof a, b, sizeof b);
    EXPECT_EQ(chained, HashBytes(joined, sizeof joined));
    // The terminators keep "ab"+"c" apart from "a"+"bc".
    EXPECT_NE(HashBytes("c", 2, HashBytes("ab", 3)), HashBytes("bc", 3, HashBytes("a", 2)));
}

}  // namespace
