// SPDX-License-Identifier: MIT
// A session table shared by threads. Workers open and close sessions, each
// change under the table's lock held alone. Request threads look sessions up
// by id under the lock shared, alongside each other and the sweeper, which
// walks the table in id order, expires idle sessions and lets go of the lock
// every few sessions so that no worker waits for a whole sweep. Before each
// release of the lock, the sweeper yields its cursor: the cursor keeps the
// id it stood on, not the record, and the next step finds the first id after
// it among the sessions open by then.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

#include <tarn.hpp>

namespace {

struct session {
    std::uint64_t last_active; // tick when opened
    tarn_node by_id;
    std::uint32_t id; // the key, in numeric order
};
using session_table =
    tarn::tree<session, &session::by_id, &session::id, tarn::order_by<std::uint32_t>>;

constexpr std::uint32_t kSessions = 4096;
constexpr int kWorkers = 3, kChangesPerWorker = 20000, kRequestThreads = 2;

session sessions[kSessions]; // every record, owned here, open or not
session_table table;
std::shared_mutex table_lock; // shared: lookups and sweeps; alone: changes
std::uint64_t tick;           // one per change, under the lock alone
std::atomic<int> workers_busy{kWorkers};

void work(std::uint32_t seed) {
    std::uint32_t x = seed;
    for (int i = 0; i < kChangesPerWorker; i++) {
        x = x * 1664525u + 1013904223u;
        session &s = sessions[(x >> 12) % kSessions];
        {
            std::lock_guard lock(table_lock);
            tick++;
            if (s.by_id.in_tree) {
                table.erase(s); // closed
            } else {
                s.last_active = tick;
                table.insert(s); // opened
            }
        }
        std::this_thread::yield(); // the session's own work
    }
    workers_busy--;
}

// Requests name sessions by id until the workers are done.
void serve(std::uint32_t seed, std::uint64_t &requests, std::uint64_t &found) {
    for (std::uint32_t x = seed; workers_busy > 0; requests++) {
        x = x * 1664525u + 1013904223u;
        {
            std::shared_lock lock(table_lock);
            found += table.find((x >> 12) % kSessions) != nullptr;
        }
        // The request's own work, away from the lock: readers that follow
        // each other without a gap could keep a worker out for ever.
        std::this_thread::yield();
    }
}

bool idle(const session &s) { return tick - s.last_active > 2 * kSessions; }

struct sweep_totals {
    int sweeps, visited, expired, released;
    bool ordered = true;
};

// The session was idle under the shared lock; with the lock alone, it may
// have been closed meanwhile, or closed and opened again.
void expire(session &s, sweep_totals &totals) {
    std::lock_guard lock(table_lock);
    if (s.by_id.in_tree && idle(s)) {
        table.erase(s);
        totals.expired++;
    }
}

// One pass over the table in id order.
void sweep(sweep_totals &totals) {
    std::int64_t last_id = -1;
    std::shared_lock lock(table_lock);
    auto cursor = table.scan();
    for (session *s = cursor.first(); s; s = cursor.next()) {
        totals.ordered &= std::int64_t(s->id) > last_id;
        last_id = s->id;
        bool expiring = idle(*s);
        if (++totals.visited % 16 != 0 && !expiring) continue;
        cursor.yield(); // before anyone else may change the table
        lock.unlock();
        if (expiring)
            expire(*s, totals);
        else
            std::this_thread::yield(); // workers open and close sessions here
        lock.lock();
        totals.released++;
    }
    totals.sweeps++;
}

} // namespace

int main() {
    for (std::uint32_t i = 0; i < kSessions; i++) sessions[i].id = i;
    std::vector<std::thread> threads;
    for (int w = 0; w < kWorkers; w++) threads.emplace_back(work, 1u + w);
    std::uint64_t requests[kRequestThreads] = {}, found[kRequestThreads] = {};
    for (int r = 0; r < kRequestThreads; r++)
        threads.emplace_back(serve, 11u + r, std::ref(requests[r]), std::ref(found[r]));
    sweep_totals totals{};
    while (workers_busy > 0) sweep(totals);
    for (std::thread &t : threads) t.join();
    std::printf("%d sweeps alongside %llu changes: %d sessions visited, %d expired, lock released "
                "%d times\n",
                totals.sweeps, (unsigned long long)tick, totals.visited, totals.expired,
                totals.released);
    for (int r = 1; r < kRequestThreads; r++) requests[0] += requests[r], found[0] += found[r];
    std::printf("%llu requests, %llu found their session open\n", (unsigned long long)requests[0],
                (unsigned long long)found[0]);
    bool balanced = tarn_verify_balance_factors(table.head()) == 1;
    std::printf("%zu sessions open at the end; ids %s, balance codes %s\n", table.size(),
                totals.ordered ? "always increased" : "FAILED to increase",
                balanced ? "sound" : "BROKEN");
    return totals.ordered && balanced ? 0 : 1;
}
