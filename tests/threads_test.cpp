// Scanner threads (full and ranged) yield the tree's mutex every few nodes
// to writer threads. Keys linked for a whole scan are visited, keys absent
// for all of it are not, and keys strictly increase within the bounds.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "tarn.hpp"

namespace {

struct Rec {
    tarn_node node;
    uint32_t key;
};
using Tree = tarn::tree<Rec, &Rec::node, &Rec::key, tarn::order_by<uint32_t>>;
constexpr uint32_t kKeys = 256, kThreads = 2, kScansEach = 400; // threads of each kind
constexpr uint64_t kChangesEach = 25000; // bounds the run when scanners get no processor

struct Shared {
    std::mutex mutex;
    Tree tree;
    Rec recs[kKeys] = {};
    uint64_t changed_at[kKeys] = {}; // by key: the change count its last change made
    uint64_t changes = 0, scans = 0, yields = 0, overlapped = 0;
    std::atomic<uint32_t> scanning{kThreads};
};

template <class Cursor>
void scan(Shared &s, Cursor cursor, uint32_t low, uint32_t high, std::mt19937 &rng) {
    std::vector<bool> seen(kKeys);
    std::unique_lock lock(s.mutex);
    const uint64_t start = s.changes;
    int64_t last = -1;
    for (Rec *r = cursor.first(); r; r = cursor.next()) {
        ASSERT_TRUE(last < r->key && low <= r->key && r->key <= high) << last << ", " << r->key;
        seen[last = r->key] = true;
        if (rng() % 3) continue;
        cursor.yield();
        lock.unlock();
        std::this_thread::yield(); // writers change the tree here
        lock.lock();
        s.yields++;
    }
    for (uint32_t k = low; k <= high; k++) // a key no change touched during the scan
        EXPECT_TRUE(s.changed_at[k] > start || seen[k] == (s.recs[k].node.in_tree == 1)) << k;
    s.scans++, s.overlapped += s.changes > start;
}

TEST(Threads, ScansYieldToWritersAndSeeEveryKeyLinkedThroughout) {
    Shared s;
    for (uint32_t k = 0; k < kKeys; k++)
        if ((s.recs[k].key = k) % 2) s.tree.insert(s.recs[k]);
    auto scanner = [&s](uint32_t seed) {
        std::mt19937 rng(seed);
        for (uint32_t i = 0; i < kScansEach; i++) {
            uint32_t low = rng() % kKeys, high = low + rng() % (kKeys - low);
            i % 2 ? scan(s, s.tree.scan(low, high), low, high, rng)
                  : scan(s, s.tree.scan(), 0, kKeys - 1, rng);
        }
        s.scanning--;
    };
    auto writer = [&s](uint32_t seed) {
        for (std::mt19937 rng(seed); s.scanning > 0; std::this_thread::yield()) {
            std::lock_guard lock(s.mutex);
            if (s.changes == kThreads * kChangesEach) break;
            Rec &r = s.recs[rng() % kKeys];
            r.node.in_tree ? s.tree.erase(r) : void(s.tree.insert(r));
            s.changed_at[r.key] = ++s.changes;
        }
    };
    std::vector<std::thread> threads;
    for (uint32_t i = 0; i < kThreads; i++) threads.emplace_back(scanner, 1 + i);
    for (uint32_t i = 0; i < kThreads; i++) threads.emplace_back(writer, 101 + i);
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(s.scans, kThreads * kScansEach);
    EXPECT_GT(s.overlapped, 0u); // scans did run alongside changes
    EXPECT_EQ(tarn_verify_balance_factors(s.tree.head()), 1);
    std::printf("%d scans (%d alongside changes), %d yields, %d changes\n", int(s.scans),
                int(s.overlapped), int(s.yields), int(s.changes));
}

} // namespace
