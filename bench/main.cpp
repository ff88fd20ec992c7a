// Runs every subject on the same keys in the same order, checks that their
// answers agree, and prints ns/op with tarn's ratio to each peer.
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>

#include "harness.hpp"
#include "peers.hpp"
#include "tarn_subject.hpp"

namespace bench {
namespace {

struct Rng { // splitmix64: the same keys on every machine and library version
    uint64_t state;
    uint64_t operator()() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return size_t((*this)() % n); }
};

template <class T>
void shuffle(std::vector<T> &v, Rng &rng) {
    for (size_t i = v.size(); i > 1; i--) std::swap(v[i - 1], v[rng.below(i)]);
}

// Present keys are even in their last word and absent probes odd, so a probe
// known to be absent needs no lookup to make.
uint64_t make_key(Rng &rng, bool present, uint64_t) { return present ? rng() & ~1ull : rng() | 1; }
Key16 make_key(Rng &rng, bool present, Key16) {
    uint64_t hi = rng() % 4096;
    return {hi, make_key(rng, present, uint64_t{})};
}

template <class Key>
Workload<Key> make_workload(size_t n, uint64_t seed) {
    Rng rng{seed};
    Workload<Key> w;
    std::vector<Key> sorted;
    while (sorted.size() < n) {
        while (sorted.size() < n) sorted.push_back(make_key(rng, true, Key{}));
        std::sort(sorted.begin(), sorted.end());
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    }
    w.keys = sorted;
    shuffle(w.keys, rng);
    w.lookups = sorted;
    shuffle(w.lookups, rng);
    for (size_t i = 0; i < n; i++)
        w.floors.push_back(i % 8 == 0 ? sorted[rng.below(n)] : make_key(rng, false, Key{}));
    for (size_t i = 0; i < kRanges; i++) {
        size_t first = rng.below(n - kRangeKeys + 1);
        w.range_low.push_back(sorted[first]);
        w.range_high.push_back(sorted[first + kRangeKeys - 1]);
    }
    for (uint32_t i = 0; i < n; i++) w.removals.push_back(i);
    shuffle(w.removals, rng);
    return w;
}

template <class Key>
std::vector<std::unique_ptr<Subject<Key>>> make_subjects() {
    std::vector<std::unique_ptr<Subject<Key>>> s;
    s.emplace_back(new TarnSubject<Key, true>);
    s.emplace_back(new TarnSubject<Key, false>);
    s.emplace_back(new StdSet<Key>);
#ifdef TARN_BENCH_HAVE_BOOST
    s.emplace_back(new BoostAvl<Key>("boost avl_set"));
    s.emplace_back(new BoostRb<Key>("boost set"));
#endif
#ifdef TARN_BENCH_HAVE_BSD
    s.emplace_back(new BsdRb<Key>);
#endif
#ifdef TARN_BENCH_HAVE_LIBAVL
    s.emplace_back(new LibAvl<Key>);
#endif
    s.emplace_back(new TSearch<Key>);
#ifdef TARN_BENCH_HAVE_ABSL
    s.emplace_back(new AbslBtree<Key>);
#endif
    return s;
}

void print_skipped() {
#ifndef TARN_BENCH_HAVE_BOOST
    std::puts("skipped: boost avl_set, boost set (libboost-dev not found at configure time)");
#endif
#ifndef TARN_BENCH_HAVE_BSD
    std::puts("skipped: bsd RB (libbsd-dev not found at configure time)");
#endif
#ifndef TARN_BENCH_HAVE_LIBAVL
    std::puts("skipped: libavl (libavl-dev not found at configure time)");
#endif
#ifndef TARN_BENCH_HAVE_ABSL
    std::puts("skipped: absl btree (libabsl-dev not found at configure time)");
#endif
}

constexpr double kAbsent = std::numeric_limits<double>::quiet_NaN();

double median(std::vector<double> v) {
    if (v.empty()) return kAbsent;
    std::sort(v.begin(), v.end());
    size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Median ns/op of each subject for each phase of one configuration.
struct Result {
    std::string keys;
    size_t n;
    std::vector<std::string> names;
    std::vector<std::array<double, kPhases>> ns; // [subject][phase]
};

template <class Key>
uint64_t run_phase(Subject<Key> &s, Phase p) {
    switch (p) {
    case Insert: return s.insert_all();
    case Lookup: return s.lookup_all();
    case Floor: return s.floor_all();
    case Scan: return s.scan_all();
    case Range: return s.range_all();
    default: return s.remove_all();
    }
}

// Repetitions interleave the subjects, so slow drifts of the machine touch
// all alike, and the median repetition of each phase counts. Large trees get
// fresh records on every repetition: where their pages land in the caches
// varies from one allocation to the next, and one lucky or unlucky layout
// should not decide a ratio.
template <class Key>
Result run_config(const char *label, size_t n, int reps) {
    std::fprintf(stderr, "running %s keys, n = %zu, %d repetitions\n", label, n, reps);
    Workload<Key> w = make_workload<Key>(n, 0x7a51 + n + sizeof(Key));
    auto subjects = make_subjects<Key>();
    Result res{label, n, {}, {}};
    for (auto &s : subjects) {
        s->prepare(w);
        res.names.push_back(s->name());
        res.ns.push_back({});
    }
    std::vector<std::array<std::vector<double>, kPhases>> samples(subjects.size());
    const double ops[kPhases] = {double(n), double(n),       double(n),
                                 double(n), double(kRanges), double(n)};
    std::array<uint64_t, kPhases> reference{};
    std::array<std::string, kPhases> reference_of{};
    for (int rep = 0; rep < reps; rep++) {
        for (size_t i = 0; i < subjects.size(); i++) {
            if (rep > 0 && n >= 100000) subjects[i]->prepare(w);
            for (int p = 0; p < kPhases; p++) {
                if (!subjects[i]->supports(Phase(p))) continue;
                auto t0 = std::chrono::steady_clock::now();
                uint64_t sum = run_phase(*subjects[i], Phase(p));
                auto t1 = std::chrono::steady_clock::now();
                if (reference_of[p].empty()) {
                    reference[p] = sum;
                    reference_of[p] = subjects[i]->name();
                } else if (sum != reference[p]) {
                    std::fprintf(stderr,
                                 "CHECKSUM MISMATCH: %s keys, n = %zu, %s: %s gave %016llx, "
                                 "%s gave %016llx\n",
                                 label, n, kPhaseNames[p], subjects[i]->name().c_str(),
                                 (unsigned long long)sum, reference_of[p].c_str(),
                                 (unsigned long long)reference[p]);
                    std::abort();
                }
                double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / ops[p];
                samples[i][p].push_back(ns);
            }
        }
    }
    for (size_t i = 0; i < subjects.size(); i++)
        for (int p = 0; p < kPhases; p++) res.ns[i][p] = median(samples[i][p]);
    return res;
}

int index_of(const Result &r, const std::string &name) {
    for (size_t i = 0; i < r.names.size(); i++)
        if (r.names[i] == name) return int(i);
    return -1;
}

std::string cell(double v, const char *format) {
    if (std::isnan(v)) return "n/a";
    char buf[32];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// tarn's byte-wise mode against the peers that inline their comparison,
// its comparator mode against those that call a function pointer.
struct Ratio {
    const char *tarn, *peer;
};
const Ratio kRatios[] = {{"tarn bytes", "boost avl_set"}, {"tarn bytes", "std::set"},
                         {"tarn bytes", "bsd RB"},        {"tarn bytes", "boost set"},
                         {"tarn bytes", "absl btree"},    {"tarn cmp", "libavl"},
                         {"tarn cmp", "tsearch"}};

std::string markdown(const Result &r) {
    std::ostringstream o;
    o << "### " << r.keys << " keys, n = " << r.n << "\n\nns/op\n\n| workload |";
    for (const auto &name : r.names) o << ' ' << name << " |";
    o << "\n|---|";
    for (size_t i = 0; i < r.names.size(); i++) o << "---:|";
    o << '\n';
    for (int p = 0; p < kPhases; p++) {
        o << "| " << kPhaseNames[p] << " |";
        for (size_t i = 0; i < r.names.size(); i++) o << ' ' << cell(r.ns[i][p], "%.1f") << " |";
        o << '\n';
    }
    o << "\ntarn / peer (below 1: tarn faster)\n\n| workload |";
    std::vector<std::pair<int, int>> pairs;
    for (const Ratio &q : kRatios) {
        int t = index_of(r, q.tarn), s = index_of(r, q.peer);
        if (t < 0 || s < 0) continue;
        pairs.push_back({t, s});
        o << ' ' << (std::strcmp(q.tarn, "tarn bytes") ? "cmp" : "bytes") << " / " << q.peer
          << " |";
    }
    o << "\n|---|";
    for (size_t i = 0; i < pairs.size(); i++) o << "---:|";
    o << '\n';
    for (int p = 0; p < kPhases; p++) {
        o << "| " << kPhaseNames[p] << " |";
        for (auto [t, s] : pairs) o << ' ' << cell(r.ns[t][p] / r.ns[s][p], "%.2f") << " |";
        o << '\n';
    }
    o << '\n';
    return o.str();
}

// One gnuplot data block per workload (8-byte keys): n, then each subject.
void write_plot_data(const std::vector<Result> &results, const std::string &path) {
    std::ofstream f(path);
    bool first = true;
    for (int p = 0; p < kPhases; p++) {
        if (!first) f << "\n\n";
        first = false;
        f << "n";
        for (const auto &name : results.front().names) f << "\t\"" << name << '"';
        f << '\n';
        for (const Result &r : results) {
            if (r.keys != "8-byte") continue;
            f << r.n;
            for (size_t i = 0; i < r.names.size(); i++)
                f << '\t'
                  << (std::isnan(r.ns[i][p]) ? std::string("NaN") : cell(r.ns[i][p], "%.2f"));
            f << '\n';
        }
    }
}

} // namespace
} // namespace bench

int main(int argc, char **argv) {
    using namespace bench;
    std::string out;
    double scale = 1.0;
    size_t only = 0;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "--out") && i + 1 < argc)
            out = argv[++i];
        else if (!std::strcmp(argv[i], "--quick"))
            scale = 0.1;
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
            only = std::strtoull(argv[++i], nullptr, 10);
        else {
            std::fprintf(stderr, "usage: %s [--out DIR] [--quick] [--only N]\n", argv[0]);
            return 2;
        }
    }
    cpu_set_t one; // stay on one core: no migrations mid-measurement
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);

    print_skipped();
    auto reps = [scale](int r) { return std::max(1, int(r * scale)); };
    auto wanted = [only](size_t n) { return only == 0 || only == n; };
    std::vector<Result> results; // --only N: the 8-byte run at n = N alone
    if (wanted(1000)) results.push_back(run_config<uint64_t>("8-byte", 1000, reps(300)));
    if (wanted(100000)) results.push_back(run_config<uint64_t>("8-byte", 100000, reps(9)));
    if (wanted(1000000)) results.push_back(run_config<uint64_t>("8-byte", 1000000, reps(5)));
    if (only == 0 || only == 16) // --only 16: the 16-byte run alone
        results.push_back(run_config<Key16>("16-byte", 1000000, reps(5)));

    std::string text;
    for (const Result &r : results) text += markdown(r);
    std::fputs(text.c_str(), stdout);
    if (!out.empty()) {
        std::ofstream(out + "/table.md") << text;
        write_plot_data(results, out + "/ns_per_op.dat");
    }
    return 0;
}
