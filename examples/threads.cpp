// A session table shared by threads under one mutex. Worker threads open and
// close sessions; a sweeper walks the table in id order, expires idle
// sessions, and lets go of the lock every few sessions so that no worker
// waits for a whole sweep. Before each change it makes and before each
// release of the lock, the sweeper yields its cursor: the cursor keeps the
// id it stood on, not the record, and the next step finds the first id after
// it among the sessions open by then.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
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
constexpr int kWorkers = 3, kChangesPerWorker = 20000;

session sessions[kSessions]; // every record, owned here, open or not
session_table table;
std::mutex table_lock;
std::uint64_t tick; // one per change, under the lock
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

struct sweep_totals {
    int sweeps, visited, expired, released;
    bool ordered = true;
};

// One pass over the table in id order.
void sweep(sweep_totals &totals) {
    std::int64_t last_id = -1;
    std::unique_lock lock(table_lock);
    auto cursor = table.scan();
    for (session *s = cursor.first(); s; s = cursor.next()) {
        totals.ordered &= std::int64_t(s->id) > last_id;
        last_id = s->id;
        if (tick - s->last_active > 2 * kSessions) { // idle: expire it
            cursor.yield();                          // before the table changes
            table.erase(*s);
            totals.expired++;
        }
        if (++totals.visited % 16 == 0) {
            cursor.yield(); // before anyone else may change the table
            lock.unlock();
            std::this_thread::yield(); // workers open and close sessions here
            lock.lock();
            totals.released++;
        }
    }
    totals.sweeps++;
}

} // namespace

int main() {
    for (std::uint32_t i = 0; i < kSessions; i++) sessions[i].id = i;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; w++) workers.emplace_back(work, 1u + w);
    sweep_totals totals{};
    while (workers_busy > 0) sweep(totals);
    for (std::thread &t : workers) t.join();
    std::printf("%d sweeps alongside %llu changes: %d sessions visited, %d expired, lock released "
                "%d times\n",
                totals.sweeps, (unsigned long long)tick, totals.visited, totals.expired,
                totals.released);
    bool balanced = tarn_verify_balance_factors(table.head()) == 1;
    std::printf("%zu sessions open at the end; ids %s, balance codes %s\n", table.size(),
                totals.ordered ? "always increased" : "FAILED to increase",
                balanced ? "sound" : "BROKEN");
    return totals.ordered && balanced ? 0 : 1;
}
