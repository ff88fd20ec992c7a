// SPDX-License-Identifier: MIT
// tarn free-space trees: a first-fit extent allocator.
//
// The free extents of an address space are records in a tree ordered by
// address, each keeping the largest free length below it. First fit, the
// lowest-addressed extent of at least n units, is then one descent by those
// summaries, in O(log n), where a list of holes is searched hole by hole.
// Freed extents merge with their free neighbours. split and join cut the
// space in two regions and put it back together.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tarn.hpp"

struct extent {
    tarn::hook link;
    std::uint64_t address, length;
    std::uint64_t largest; // free length below it, itself included
};

using free_space =
    tarn::tree<extent, &extent::link, &extent::address, tarn::order_by<std::uint64_t>,
               tarn::largest_below<&extent::length, &extent::largest>>;

namespace {

std::vector<extent> g_records(4096); // the records free extents are kept in
std::vector<extent *> g_spare;       // and those unused

extent *record() {
    extent *e = g_spare.back();
    g_spare.pop_back();
    return e;
}

// The lowest address with n units free after it, taken; or UINT64_MAX.
std::uint64_t allocate(free_space &space, std::uint64_t n) {
    extent *e = space.first_where([n](const extent &below) { return below.largest >= n; },
                                  [n](const extent &x) { return x.length >= n; });
    if (!e) return UINT64_MAX;
    const std::uint64_t at = e->address;
    if (e->length == n) {
        space.erase(*e), g_spare.push_back(e);
    } else {
        e->address += n, e->length -= n; // still between its neighbours
        space.reposition(*e);
    }
    return at;
}

// Gives [at, at + n) back, merged with a free neighbour on either side.
void release(free_space &space, std::uint64_t at, std::uint64_t n) {
    extent *after = space.ceiling(at), *before = space.floor(at);
    if (before && before->address + before->length == at) {
        before->length += n;
        if (after && at + n == after->address)
            before->length += after->length, space.erase(*after), g_spare.push_back(after);
        space.refresh(*before);
    } else if (after && at + n == after->address) {
        after->address = at, after->length += n;
        space.reposition(*after);
    } else {
        extent *e = record();
        e->address = at, e->length = n;
        space.insert(*e);
    }
}

std::uint64_t free_units(const free_space &space) {
    std::uint64_t sum = 0;
    for (const extent &e : space) sum += e.length;
    return sum;
}

} // namespace

int main() {
    for (extent &e : g_records) g_spare.push_back(&e);
    free_space space;
    release(space, 0, 1 << 20); // one free extent of 1 Mi units
    std::vector<std::pair<std::uint64_t, std::uint64_t>> taken;
    std::uint64_t state = 7;
    for (int round = 0; round < 20000; round++) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        if (taken.empty() || (state >> 60) < 9) {
            const std::uint64_t n = 1 + (state >> 40) % 300;
            const std::uint64_t at = allocate(space, n);
            if (at != UINT64_MAX) taken.push_back({at, n});
        } else {
            const std::size_t i = (state >> 20) % taken.size();
            release(space, taken[i].first, taken[i].second);
            taken[i] = taken.back(), taken.pop_back();
        }
    }
    std::uint64_t in_use = 0;
    for (const auto &t : taken) in_use += t.second;
    std::printf("%zu allocations live, %llu units in use, %zu free extents\n", taken.size(),
                (unsigned long long)in_use, space.size());
    bool sound = free_units(space) + in_use == 1 << 20;

    // The space cut in two at its middle free extent, and put back.
    auto middle = space.begin();
    for (std::size_t i = 0; i < space.size() / 2; i++) ++middle;
    free_space high = space.split(middle->address);
    const std::size_t low_extents = space.size(), high_extents = high.size();
    space.join(std::move(high));
    sound = sound && space.size() == low_extents + high_extents && high.empty();
    std::printf("split in two: %zu and %zu extents, joined again: %zu\n", low_extents,
                high_extents, space.size());
    for (const auto &t : taken) release(space, t.first, t.second);
    sound = sound && space.size() == 1 && space.first()->length == 1 << 20;
    std::printf("every allocation given back: %zu free extent of %llu units\n", space.size(),
                (unsigned long long)space.first()->length);
    space.clear();
    return sound ? 0 : 1;
}
