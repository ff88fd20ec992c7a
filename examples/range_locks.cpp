// SPDX-License-Identifier: MIT
// tarn intervals: byte-range locks on a file.
//
// Each lock holds [start, end) of a file; locks never overlap, so the start
// is a key. The tree keeps in each record the largest end below it, so
// that a request finds every lock it conflicts with in O(log n + k),
// without looking at the locks that end before it or start after it.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tarn.hpp"

struct range_lock {
    tarn::hook link;
    std::uint64_t start, end;  // [start, end)
    std::uint64_t largest_end; // below it, itself included
    int owner;
};

using lock_table =
    tarn::tree<range_lock, &range_lock::link, &range_lock::start, tarn::order_by<std::uint64_t>,
               tarn::interval_ends<&range_lock::end, &range_lock::largest_end>>;

namespace {

// Takes [start, end) for owner when no lock overlaps it.
bool lock(lock_table &locks, range_lock &l, std::uint64_t start, std::uint64_t end, int owner) {
    if (!locks.overlaps(start, end).empty()) return false;
    l.start = start, l.end = end, l.owner = owner;
    return locks.insert(l);
}

} // namespace

int main() {
    std::vector<range_lock> pool(1000);
    lock_table locks;
    std::size_t granted = 0, refused = 0;
    std::uint64_t state = 12345;
    for (std::size_t i = 0; i < pool.size(); i++) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const std::uint64_t start = (state >> 33) % 1000000, length = 1 + (state >> 20) % 4096;
        if (lock(locks, pool[i], start, start + length, int(i % 7)))
            granted++;
        else
            refused++;
    }
    // No two locks overlap: each one's successor starts at or after its end.
    bool disjoint = true;
    const range_lock *before = nullptr;
    for (const range_lock &l : locks) {
        disjoint = disjoint && (!before || before->end <= l.start);
        before = &l;
    }
    std::size_t in_first_page = 0; // the owners a writer of the first 4 KiB waits for
    locks.for_each_overlap(0, 4096, [&](const range_lock &l) { in_first_page += l.owner >= 0; });
    std::printf("%zu locks granted, %zu refused, %zu in the first 4 KiB\n", granted, refused,
                in_first_page);
    // Unlock half of them, then every lock of [0, 1000000) is still found.
    for (std::size_t i = 0; i < pool.size(); i += 2) locks.erase(pool[i]);
    std::size_t found = 0;
    for (const range_lock &l : locks.overlaps(0, 1000000 + 4096)) found += l.end > 0;
    std::printf("%zu locks left, %zu found by overlap\n", locks.size(), found);
    return disjoint && granted > 0 && refused > 0 && found == locks.size() ? 0 : 1;
}
