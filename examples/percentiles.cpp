// SPDX-License-Identifier: MIT
// tarn order statistics: percentiles of a sliding window of latencies.
//
// A service keeps the last 10 000 request latencies in a ring of records;
// each record sits in a tree ordered by (latency, sequence number), whose
// records keep the size of their subtree. The p50, p99 and p999 of the
// window are then nth() away, in O(log n) each, however often they are
// asked, and sliding the window is one erase and one insert.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tarn.hpp"

struct sample {
    std::uint64_t latency_ns, seq; // the key: ties broken by arrival
    bool operator<(const sample &other) const {
        return latency_ns != other.latency_ns ? latency_ns < other.latency_ns : seq < other.seq;
    }
};

struct request {
    tarn::hook link;
    sample key;
    std::size_t below; // records in its subtree, itself included
};

using window = tarn::tree<request, &request::link, &request::key, tarn::order_by<sample>,
                          tarn::subtree_size<&request::below>>;

namespace {

std::uint64_t rng_state = 0x9E3779B97F4A7C15u;
std::uint64_t next_random() {
    rng_state ^= rng_state << 13, rng_state ^= rng_state >> 7, rng_state ^= rng_state << 17;
    return rng_state;
}

// A latency: mostly about 100 us, one in a hundred slow, one in a thousand very.
std::uint64_t latency() {
    const std::uint64_t r = next_random() % 1000;
    return 80000 + next_random() % 40000 + (r < 10 ? 2000000 : 0) + (r == 0 ? 50000000 : 0);
}

} // namespace

int main() {
    constexpr std::size_t kWindow = 10000, kRequests = 200000;
    std::vector<request> ring(kWindow);
    window w;
    bool ordered = true;
    for (std::uint64_t seq = 0; seq < kRequests; seq++) {
        request &r = ring[seq % kWindow];
        w.erase(r); // the oldest leaves the window
        r.key = {latency(), seq};
        w.insert(r);
        if (seq % 50000 == 49999) {
            auto at = [&w](double q) { return w.nth(std::size_t(q * double(w.size() - 1))); };
            const request *p50 = at(0.5), *p99 = at(0.99), *p999 = at(0.999);
            std::printf("after %6llu requests: p50 %7llu ns, p99 %8llu ns, p999 %9llu ns\n",
                        (unsigned long long)seq + 1, (unsigned long long)p50->key.latency_ns,
                        (unsigned long long)p99->key.latency_ns,
                        (unsigned long long)p999->key.latency_ns);
            ordered = ordered && p50->key.latency_ns <= p99->key.latency_ns &&
                      p99->key.latency_ns <= p999->key.latency_ns &&
                      w.rank(*p99) == std::size_t(0.99 * double(w.size() - 1));
        }
    }
    const std::size_t slow = w.count({2000000, 0}, {UINT64_MAX, UINT64_MAX});
    std::printf("%zu of the last %zu requests took 2 ms or more\n", slow, w.size());
    w.clear();
    return ordered && slow > 0 && slow < kWindow / 20 ? 0 : 1;
}
