// SPDX-License-Identifier: MIT
// tarn C++ demo: the timer queue of a small event loop.
//
// Each timer is a record the program owns (here, one array), carrying its
// tree node and its key. The key is (deadline, id), so timers due at the same
// moment still have distinct keys; the tree orders it with the key's own
// operator<=> (operator< before C++20) through tarn::order_by.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tarn.hpp"

struct due_at {
    std::uint64_t deadline_ms;
    std::uint64_t id;
#if defined(__cpp_impl_three_way_comparison)
    auto operator<=>(const due_at &) const = default;
#else
    bool operator<(const due_at &other) const {
        return deadline_ms != other.deadline_ms ? deadline_ms < other.deadline_ms : id < other.id;
    }
#endif
};

struct timer {
    tarn::hook link; // starts unlinked
    due_at when;
    std::uint32_t period_ms; // 0: fires once
    std::uint32_t fired;
};

using timer_queue = tarn::tree<timer, &timer::link, &timer::when, tarn::order_by<due_at>>;

namespace {

constexpr int kTimers = 2000;
timer timers[kTimers];

std::uint64_t rng_state = 0x9E3779B97F4A7C15u;
std::uint32_t next_random() {
    rng_state ^= rng_state << 13;
    rng_state ^= rng_state >> 7;
    rng_state ^= rng_state << 17;
    return std::uint32_t(rng_state);
}

void check(bool ok, const char *what) {
    std::printf("  %-52s %s\n", what, ok ? "ok" : "FAILED");
    if (!ok) std::exit(1);
}

} // namespace

int main() {
    timer_queue queue;

    std::puts("arming timers");
    for (std::uint64_t i = 0; i < kTimers; i++) {
        timers[i].when = {next_random() % 10000, i};
        timers[i].period_ms = i % 4 == 0 ? 250 + next_random() % 750 : 0;
        queue.insert(timers[i]);
    }
    check(queue.size() == kTimers, "every timer armed");
    timer twin = timers[7]; // a copy of a linked record starts unlinked
    check(!queue.insert(twin) && !timer_queue::is_linked(twin),
          "a second timer with the same key is refused");

    std::uint64_t earlier = 0;
    bool ordered = true;
    for (const timer &t : queue) {
        ordered = ordered && t.when.deadline_ms >= earlier;
        earlier = t.when.deadline_ms;
    }
    check(ordered, "iteration runs in deadline order");
    check(queue.find(timers[42].when) == &timers[42], "find by key");

    // The last timer due by t = 5000 ms, and the first one after it.
    const due_at probe{5000, 0};
    const timer *before = queue.floor(probe), *after = queue.ceiling(probe);
    check(before && after && before->when < probe && !(after->when < probe),
          "floor and ceiling straddle t = 5000 ms");
    std::printf("    last due before: %llu ms, first due from: %llu ms\n",
                (unsigned long long)before->when.deadline_ms,
                (unsigned long long)after->when.deadline_ms);

    int in_window = 0;
    for (const timer &t : queue.range({1000, 0}, {1999, UINT64_MAX})) {
        (void)t;
        in_window++;
    }
    std::printf("    due in [1000, 2000) ms: %d timers\n", in_window);

    // The event loop: fire everything due by `now`. Firing changes the queue
    // (one-shot timers leave, periodic ones move to a later key), so the scan
    // yields before each change and resumes by the saved key.
    std::puts("running the event loop");
    int fired = 0, rearmed = 0;
    for (std::uint64_t now = 2500; now <= 10000; now += 2500) {
        auto due = queue.scan({0, 0}, {now, UINT64_MAX});
        for (timer *t = due.first(); t; t = due.next()) {
            t->fired++;
            fired++;
            due.yield();
            if (t->period_ms) {
                t->when.deadline_ms += t->period_ms; // may land before now: fires again
                queue.reposition(*t);                // in place when it still fits there
                rearmed++;
            } else {
                queue.erase(*t);
            }
        }
        const timer *next = queue.first();
        std::printf("    t = %5llu ms: %4zu armed, next due %llu ms\n", (unsigned long long)now,
                    queue.size(), next ? (unsigned long long)next->when.deadline_ms : 0ull);
        check(!next || next->when.deadline_ms > now, "nothing left that was due");
    }
    std::printf("    %d firings, %d re-armed, the latest due at %llu ms\n", fired, rearmed,
                (unsigned long long)queue.last()->when.deadline_ms);
    // Cancel every timer due in the last 300 ms before the latest: erase by
    // iterator gives the next one.
    const due_at from{queue.last()->when.deadline_ms - 300, 0};
    std::size_t cancelled = 0;
    for (auto it = queue.lower_bound(from); it != queue.end(); cancelled++) it = queue.erase(it);
    check(cancelled > 0 && (queue.empty() || queue.last()->when < from), "cancel by iterator");
    check(tarn_verify_balance_factors(queue.head()) == 1, "balance codes (a C call on head())");

    // A queue may move: no node points at the descriptor.
    timer_queue handed_over(std::move(queue));
    check(queue.empty() && handed_over.size() > 0, "moving the queue takes every timer along");

    // Shutting down: one pass unlinks every timer, no rebalancing on the way.
    const std::size_t armed = handed_over.size();
    std::size_t released = 0;
    handed_over.clear_and_dispose([&](timer &t) { released += t.link.in_tree == 0; });
    check(handed_over.empty() && released == armed, "clearing unlinks every timer");
    return 0;
}
