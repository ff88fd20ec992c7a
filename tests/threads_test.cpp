// SPDX-License-Identifier: MIT
// Scanner threads (full and ranged) and lookup threads share the tree's lock;
// writer threads take it alone. Scanners let go of it every few nodes, after
// a yield. Keys linked for a whole scan are visited, keys absent for all of
// it are not, keys strictly increase within the bounds, and lookups answer
// as the records' links say. Readers overlap, so ThreadSanitizer sees any
// shared write a read-only call makes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <latch>
#include <mutex>
#include <random>
#include <shared_mutex>
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
constexpr uint64_t kChangesEach = 25000; // bounds the run when readers get no processor

struct Shared {
    std::shared_mutex mutex;
    Rec recs[kKeys] = {}; // outlive the tree, which unlinks them
    Tree tree;
    uint64_t changed_at[kKeys] = {}; // by key: the change count its last change made
    uint64_t changes = 0;
    std::atomic<uint32_t> scanning{kThreads};
    // Every reader's first stretch waits for all the others to hold the lock
    // too, so that readers overlap whatever the scheduler does; writers wait
    // for that before they start.
    std::latch readers_in{2 * kThreads};
    // Counted relaxed, so that counting orders no reader after another: such
    // an order could hide from ThreadSanitizer a write by one reader that
    // another reads.
    std::atomic<uint64_t> inside, scans, alongside, yields, lookups, stretches, overlapping;
};

uint64_t count(std::atomic<uint64_t> &n, uint64_t by = 1) {
    return n.fetch_add(by, std::memory_order_relaxed);
}

// The shared lock, counting the stretches that begin with another reader in.
struct reader_lock {
    Shared &s;
    explicit reader_lock(Shared &s) : s(s) { lock(); }
    ~reader_lock() { unlock(); }
    void lock() {
        s.mutex.lock_shared();
        count(s.stretches), count(s.overlapping, count(s.inside) > 0);
        thread_local bool met = false;
        if (!met) met = true, s.readers_in.arrive_and_wait();
    }
    void unlock() {
        s.inside.fetch_sub(1, std::memory_order_relaxed);
        s.mutex.unlock_shared();
    }
};

template <class Cursor>
void scan(Shared &s, Cursor cursor, uint32_t low, uint32_t high, std::mt19937 &rng) {
    std::vector<bool> seen(kKeys);
    reader_lock lock(s);
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
        count(s.yields);
    }
    for (uint32_t k = low; k <= high; k++) // a key no change touched during the scan
        EXPECT_TRUE(s.changed_at[k] > start || seen[k] == (s.recs[k].node.in_tree == 1)) << k;
    count(s.scans), count(s.alongside, s.changes > start);
}

// Exact, floor and ceiling lookups of a few keys, against the links.
void look_up(Shared &s, std::mt19937 &rng) {
    reader_lock lock(s);
    auto linked = [&s](int64_t k) { return k >= 0 && k < kKeys && s.recs[k].node.in_tree; };
    auto nearest = [&](int64_t k, int step) {
        while (k >= 0 && k < kKeys && !linked(k)) k += step;
        return linked(k) ? &s.recs[k] : nullptr;
    };
    for (int i = 0; i < 8; i++, count(s.lookups)) {
        uint32_t k = rng() % kKeys;
        EXPECT_EQ(s.tree.find(k), linked(k) ? &s.recs[k] : nullptr) << k;
        EXPECT_EQ(s.tree.floor(k), nearest(k, -1)) << k;
        EXPECT_EQ(s.tree.ceiling(k), nearest(k, 1)) << k;
        if (i == 3) std::this_thread::yield(); // other readers may come in
    }
}

TEST(Threads, ReadersOverlapAndYieldToWritersAndSeeEveryKeyLinkedThroughout) {
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
    auto looker = [&s](uint32_t seed) {
        for (std::mt19937 rng(seed); s.scanning > 0; std::this_thread::yield()) look_up(s, rng);
    };
    auto writer = [&s](uint32_t seed) {
        s.readers_in.wait();
        for (std::mt19937 rng(seed); s.scanning > 0; std::this_thread::yield()) {
            std::lock_guard lock(s.mutex);
            if (s.changes == kThreads * kChangesEach) break;
            Rec &r = s.recs[rng() % kKeys];
            r.node.in_tree ? s.tree.erase(r) : void(s.tree.insert(r));
            s.changed_at[r.key] = ++s.changes;
        }
    };
    std::vector<std::thread> threads;
    for (uint32_t i = 0; i < kThreads; i++) {
        threads.emplace_back(scanner, 1 + i);
        threads.emplace_back(looker, 51 + i);
        threads.emplace_back(writer, 101 + i);
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(s.scans.load(), kThreads * kScansEach);
    EXPECT_GT(s.alongside.load(), 0u); // scans did run alongside changes
    // The latch holds every reader's first stretch until all are in, so all
    // of those but the first began beside another reader, whatever the
    // scheduler did.
    EXPECT_GE(s.overlapping.load(), 2 * kThreads - 1);
    EXPECT_EQ(tarn_verify_balance_factors(s.tree.head()), 1);
    std::printf("%d scans (%d alongside changes), %d yields, %d lookups, %d changes; %d of %d "
                "stretches under the shared lock began with another reader holding it\n",
                int(s.scans), int(s.alongside), int(s.yields), int(s.lookups), int(s.changes),
                int(s.overlapping), int(s.stretches));
}

} // namespace
