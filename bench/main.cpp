// SPDX-License-Identifier: MIT
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
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "bursts.hpp"
#include "container.hpp"
#include "harness.hpp"
#include "peers.hpp"
#include "summaries.hpp"
#include "tarn_subject.hpp"

namespace bench {
namespace {

// Present keys are even in their last word and absent probes odd, so a probe
// known to be absent needs no lookup to make.
uint64_t make_key(Rng &rng, bool present, uint64_t) { return present ? rng() & ~1ull : rng() | 1; }
Key16 make_key(Rng &rng, bool present, Key16) {
    uint64_t hi = rng() % 4096;
    return {hi, make_key(rng, present, uint64_t{})};
}
// The absent key just above a present one: that key is its floor.
uint64_t just_above(uint64_t k) { return k | 1; }
Key16 just_above(const Key16 &k) { return {k.hi, just_above(k.lo)}; }

// n keys drawn by rank, rank r (from 1) with probability proportional to
// 1/r; ranks stand for the keys in a random order, so the hot keys are
// spread over the tree.
template <class Key>
std::vector<Key> zipf_draws(const std::vector<Key> &sorted, Rng &rng) {
    size_t n = sorted.size();
    std::vector<Key> by_rank = sorted;
    shuffle(by_rank, rng);
    std::vector<double> cumulative(n);
    double total = 0;
    for (size_t r = 0; r < n; r++) cumulative[r] = total += 1.0 / double(r + 1);
    std::vector<Key> draws;
    for (size_t i = 0; i < n; i++) {
        double u = double(rng() >> 11) * 0x1p-53 * total; // uniform in [0, total)
        size_t r = std::upper_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin();
        draws.push_back(by_rank[std::min(r, n - 1)]);
    }
    return draws;
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
    w.lookups[Uniform] = sorted;
    shuffle(w.lookups[Uniform], rng);
    for (size_t i = 0; i < n; i++)
        w.floors[Uniform].push_back(i % 8 == 0 ? sorted[rng.below(n)]
                                               : make_key(rng, false, Key{}));
    for (size_t i = 0; i < kRanges; i++) {
        size_t first = rng.below(n - kRangeKeys + 1);
        w.range_low.push_back(sorted[first]);
        w.range_high.push_back(sorted[first + kRangeKeys - 1]);
    }
    for (uint32_t i = 0; i < n; i++) w.removals.push_back(i);
    shuffle(w.removals, rng);
    // Drawn last, so the workload above stays as it was before these sets.
    w.lookups[Zipf] = zipf_draws(sorted, rng);
    for (const Key &k : zipf_draws(sorted, rng)) w.floors[Zipf].push_back(just_above(k));
    return w;
}

template <class Key>
std::vector<std::unique_ptr<Subject<Key>>> all_subjects() {
    std::vector<std::unique_ptr<Subject<Key>>> s;
    s.emplace_back(new TarnSubject<Key, true>);
    s.emplace_back(new TarnSubject<Key, false>);
    s.emplace_back(new TarnHpp<Key>);
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

// --subjects NAME,NAME,...: only these (tarn's own comparisons need no peers).
std::string g_subjects;
// --ab OLD NEW: two builds of the library, "tarn A" and "tarn B", alone.
bool g_ab = false;

template <class Key>
std::vector<std::unique_ptr<Subject<Key>>> make_subjects() {
    std::vector<std::unique_ptr<Subject<Key>>> s;
    if (g_ab) {
        s.emplace_back(new TarnSubject<Key, true, LoadedCalls<0>>("tarn A"));
        s.emplace_back(new TarnSubject<Key, true, LoadedCalls<1>>("tarn B"));
        return s;
    }
    s = all_subjects<Key>();
    auto unwanted = [](const std::unique_ptr<Subject<Key>> &subject) {
        return !g_subjects.empty() &&
               ("," + g_subjects + ",").find("," + subject->name() + ",") == std::string::npos;
    };
    s.erase(std::remove_if(s.begin(), s.end(), unwanted), s.end());
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

double median(std::vector<double> v) { // of at least one figure
    std::sort(v.begin(), v.end());
    size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// ns/op of each subject for each phase of one configuration, one figure per
// repetition (none for a phase the subject does not run).
struct Result {
    std::string keys;
    size_t n;
    int reps;
    std::vector<std::string> names;
    std::vector<std::array<std::vector<double>, kPhases>> ns; // [subject][phase][repetition]
};

template <class Key>
uint64_t run_phase(Subject<Key> &s, Phase p) {
    switch (p) {
    case Insert:
    case InsertWarm: return s.insert_all();
    case Lookup: return s.lookup_all(Uniform);
    case LookupZipf: return s.lookup_all(Zipf);
    case Floor: return s.floor_all(Uniform);
    case FloorZipf: return s.floor_all(Zipf);
    case LookupBatch: return s.lookup_batch_all(Uniform);
    case LookupBatchZipf: return s.lookup_batch_all(Zipf);
    case FloorBatch: return s.floor_batch_all(Uniform);
    case FloorBatchZipf: return s.floor_batch_all(Zipf);
    case Scan: return s.scan_all();
    case Range: return s.range_all();
    default: return s.remove_all();
    }
}

// The warm insert needs an empty tree, so it runs after the removal.
constexpr Phase kRunOrder[kPhases] = {
    Insert,     Lookup,         LookupZipf, Floor, FloorZipf, LookupBatch, LookupBatchZipf,
    FloorBatch, FloorBatchZipf, Scan,       Range, Remove,    InsertWarm};

// Repetitions interleave the subjects, so slow drifts of the machine touch
// all alike. Every repetition lays out fresh records: where their pages land
// in the caches varies from one allocation to the next, and one lucky or
// unlucky layout should not decide a ratio. All subjects lay theirs out
// first, so each plain insert finds its records as cold as the others do;
// a warm insert lays them out just before linking them.
template <class Key>
Result run_config(const char *label, size_t n, int reps) {
    std::fprintf(stderr, "running %s keys, n = %zu, %d repetitions\n", label, n, reps);
    Workload<Key> w = make_workload<Key>(n, 0x7a51 + n + sizeof(Key));
    auto subjects = make_subjects<Key>();
    Result res{label, n, reps, {}, {}};
    for (auto &s : subjects) res.names.push_back(s->name());
    res.ns.resize(subjects.size());
    std::array<uint64_t, kPhases> reference{};
    std::array<std::string, kPhases> reference_of{};
    auto check = [&](Phase p, uint64_t sum, const std::string &name) {
        if (reference_of[p].empty()) {
            reference[p] = sum;
            reference_of[p] = name;
        } else if (sum != reference[p]) {
            std::fprintf(stderr,
                         "CHECKSUM MISMATCH: %s keys, n = %zu, %s: %s gave %016llx, "
                         "%s gave %016llx\n",
                         label, n, kPhaseNames[p], name.c_str(), (unsigned long long)sum,
                         reference_of[p].c_str(), (unsigned long long)reference[p]);
            std::abort();
        }
    };
    for (int rep = 0; rep < reps; rep++) {
        for (auto &s : subjects) s->prepare(w);
        for (size_t i = 0; i < subjects.size(); i++) {
            Subject<Key> &s = *subjects[i];
            for (Phase p : kRunOrder) {
                if (!s.supports(p)) continue;
                if (p == InsertWarm) s.prepare(w);
                auto t0 = std::chrono::steady_clock::now();
                uint64_t sum = run_phase(s, p);
                auto t1 = std::chrono::steady_clock::now();
                check(p, sum, s.name());
                if (p == InsertWarm) check(Remove, s.remove_all(), s.name()); // empty again
                double ops = p == Range ? double(kRanges) : double(n);
                res.ns[i][p].push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() /
                                       ops);
            }
        }
    }
    return res;
}

int index_of(const Result &r, const std::string &name) {
    for (size_t i = 0; i < r.names.size(); i++)
        if (r.names[i] == name) return int(i);
    return -1;
}

// "median (min–max)", or n/a without figures.
std::string cell(std::vector<double> v, int digits) {
    if (v.empty()) return "n/a";
    std::sort(v.begin(), v.end());
    char buf[80];
    std::snprintf(buf, sizeof buf, "%.*f (%.*f–%.*f)", digits, median(v), digits, v.front(), digits,
                  v.back());
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
                         {"tarn cmp", "tsearch"},         {"tarn hpp", "boost avl_set"},
                         {"tarn hpp", "absl btree"},      {"tarn B", "tarn A"}};

// The single-call row a batch row is measured against.
Phase single_of(Phase p) {
    return p == LookupBatch       ? Lookup
           : p == LookupBatchZipf ? LookupZipf
           : p == FloorBatch      ? Floor
                                  : FloorZipf;
}

std::string markdown(const Result &r) {
    std::ostringstream o;
    o << "### " << r.keys << " keys, n = " << r.n << "\n\nns/op: median (min–max) over " << r.reps
      << " repetitions\n\n| workload |";
    for (const auto &name : r.names) o << ' ' << name << " |";
    o << "\n|---|";
    for (size_t i = 0; i < r.names.size(); i++) o << "---:|";
    o << '\n';
    for (int p = 0; p < kPhases; p++) {
        o << "| " << kPhaseNames[p] << " |";
        for (size_t i = 0; i < r.names.size(); i++) o << ' ' << cell(r.ns[i][p], 1) << " |";
        o << '\n';
    }
    o << "\ntarn / peer: median (min–max) of the " << r.reps
      << " per-repetition ratios (below 1: tarn faster)\n\n| workload |";
    std::vector<std::pair<int, int>> pairs;
    for (const Ratio &q : kRatios) {
        int t = index_of(r, q.tarn), s = index_of(r, q.peer);
        if (t < 0 || s < 0) continue;
        pairs.push_back({t, s});
        o << ' ' << q.tarn + std::strlen("tarn ") << " / " << q.peer << " |";
    }
    int hpp = index_of(r, "tarn hpp");
    o << " hpp batch / hpp single |\n|---|";
    for (size_t i = 0; i <= pairs.size(); i++) o << "---:|";
    o << '\n';
    auto ratio_cell = [](const std::vector<double> &a, const std::vector<double> &b) {
        std::vector<double> ratios; // repetition i of one against repetition i of the other
        for (size_t i = 0; i < std::min(a.size(), b.size()); i++) ratios.push_back(a[i] / b[i]);
        return cell(ratios, 2);
    };
    for (int p = 0; p < kPhases; p++) {
        o << "| " << kPhaseNames[p] << " |";
        for (auto [t, s] : pairs) o << ' ' << ratio_cell(r.ns[t][p], r.ns[s][p]) << " |";
        o << ' '
          << (is_batch(Phase(p)) && hpp >= 0
                  ? ratio_cell(r.ns[hpp][p], r.ns[hpp][single_of(Phase(p))])
                  : "n/a")
          << " |\n";
    }
    o << '\n';
    return o.str();
}

// ns/op of each column of each container row, one figure per repetition
// (none for a column the row does not run).
struct ContainerResult {
    std::string title; // of the group of rows
    size_t n;
    int reps;
    std::string note; // printed under the ratios
    std::vector<std::string> rows;
    std::vector<std::array<std::vector<double>, kColumns>> ns; // [row][column][repetition]
};

constexpr bool kAbslBuilt =
#ifdef TARN_BENCH_HAVE_ABSL
    true;
#else
    false;
#endif
bool column_built(Column c) { return c != Absl || kAbslBuilt; }

// Cases' rows at one n. In each repetition every case takes fresh memory,
// then prepares and runs each column in turn, in one order on even
// repetitions and the reverse on odd ones, so that neither column always
// finds the caches as the other left them.
ContainerResult run_cases(const char *title, size_t n, int reps,
                          const std::vector<std::unique_ptr<ContainerCase>> &cases) {
    ContainerResult res{title, n, reps, {}, {}, {}};
    std::vector<size_t> first_row; // of each case
    for (auto &c : cases) {
        first_row.push_back(res.rows.size());
        for (const std::string &row : c->rows()) res.rows.push_back(row);
    }
    res.ns.resize(res.rows.size());
    std::vector<uint64_t> reference(res.rows.size());
    std::vector<int> reference_of(res.rows.size(), -1);
    for (int rep = 0; rep < reps; rep++) {
        for (size_t k = 0; k < cases.size(); k++) {
            ContainerCase &cc = *cases[k];
            const size_t rows = cc.rows().size();
            auto runs_any = [&](Column c) {
                for (size_t row = 0; row < rows; row++)
                    if (cc.runs(c, row)) return column_built(c);
                return false;
            };
            cc.start();
            for (int i = 0; i < kColumns; i++) {
                const Column c = Column(rep % 2 ? kColumns - 1 - i : i);
                if (!runs_any(c)) continue;
                cc.prepare(c);
                for (size_t row = 0; row < rows; row++) {
                    if (!cc.runs(c, row)) continue;
                    cc.before(c, row);
                    auto t0 = std::chrono::steady_clock::now();
                    const uint64_t answer = cc.run(c, row);
                    auto t1 = std::chrono::steady_clock::now();
                    const uint64_t sum = mix(answer, cc.settle(c, row));
                    const size_t at = first_row[k] + row;
                    if (const std::optional<uint64_t> expected = cc.expected(c, row)) {
                        if (answer != *expected) {
                            std::fprintf(stderr,
                                         "CHECKSUM MISMATCH: %s, n = %zu, %s: %s gave %016llx, "
                                         "the keys give %016llx\n",
                                         title, n, res.rows[at].c_str(), kColumnNames[c],
                                         (unsigned long long)answer, (unsigned long long)*expected);
                            std::abort();
                        }
                    } else if (reference_of[at] < 0) {
                        reference[at] = sum;
                        reference_of[at] = c;
                    } else if (sum != reference[at]) {
                        std::fprintf(stderr,
                                     "CHECKSUM MISMATCH: %s, n = %zu, %s: %s gave "
                                     "%016llx, %s gave %016llx\n",
                                     title, n, res.rows[at].c_str(), kColumnNames[c],
                                     (unsigned long long)sum, kColumnNames[reference_of[at]],
                                     (unsigned long long)reference[at]);
                        std::abort();
                    }
                    const double ns = cc.timed_ns(c, row).value_or(
                        std::chrono::duration<double, std::nano>(t1 - t0).count());
                    res.ns[at][c].push_back(ns / double(cc.ops(c, row).value_or(n)));
                }
            }
        }
    }
    return res;
}

// tarn.hpp's calls, on the 8-byte keys of the peers' run at the same n.
ContainerResult run_container(size_t n, int reps) {
    std::fprintf(stderr, "running tarn.hpp calls, n = %zu, %d repetitions\n", n, reps);
    Workload<uint64_t> w = make_workload<uint64_t>(n, 0x7a51 + n + sizeof(uint64_t));
    ContainerData d = make_container_data(w, 0xc0417a1 + n);
    ContainerResult res = run_cases("tarn.hpp calls", n, reps, container_cases(d));
    char in_place[160];
    std::snprintf(in_place, sizeof in_place,
                  "re-arm: %.1f%% of the changes leave the record between its neighbours.\n",
                  100.0 * double(d.rearms_in_place) / double(n));
    res.note = in_place;
    return res;
}

// Bursts of batched changes, on the same keys.
ContainerResult run_bursts(size_t n, int reps) {
    std::fprintf(stderr, "running bursts, n = %zu, %d repetitions\n", n, reps);
    Workload<uint64_t> w = make_workload<uint64_t>(n, 0x7a51 + n + sizeof(uint64_t));
    ContainerData d = make_container_data(w, 0xc0417a1 + n);
    return run_cases("bursts", n, reps, burst_cases(d));
}

// Summaries and tree algebra, on the same keys.
ContainerResult run_summaries(size_t n, int reps) {
    std::fprintf(stderr, "running summaries and algebra, n = %zu, %d repetitions\n", n, reps);
    Workload<uint64_t> w = make_workload<uint64_t>(n, 0x7a51 + n + sizeof(uint64_t));
    ContainerData d = make_container_data(w, 0xc0417a1 + n);
    return run_cases("summaries and algebra", n, reps, summary_cases(d));
}

// What each column of each container row runs, printed once.
std::string container_legend() {
    return "### tarn.hpp calls: what each column runs\n\n"
           "Each row measures a tarn.hpp call (\"tarn hpp\") against another way to the same "
           "answers (\"tarn hpp baseline\") and absl::btree_set's nearest call, on the 8-byte "
           "keys above; trees over `std::uint64_t` in its default (numeric) order unless said.\n\n"
           "| row | tarn hpp | tarn hpp baseline | absl btree |\n|---|---|---|---|\n"
           "| find-or-insert (half present) | `insert_check`, `insert_commit` when absent | "
           "`find`, `insert` when absent | `insert(k)` |\n"
           "| sorted load (hinted) | `insert(end(), r)`, keys ascending, records in key order | "
           "`insert(r)`, the same | `insert(end(), k)` |\n"
           "| sorted load (assign_sorted) | `assign_sorted(first, last)` | `insert(r)`, the same | "
           "n/a |\n"
           "| re-arm (small key change) | key changed, `reposition(r)` | `erase(r)`, key changed, "
           "`insert(r)` | n/a |\n"
           "| numeric order: insert, lookup, floor (miss), scan, remove | the peers' phases over "
           "`std::uint64_t` keys | the same over big-endian `std::array<uint8_t, 8>` keys, "
           "`tarn::bytewise` | n/a |\n"
           "| reverse scan | `rbegin()` to `rend()`; `--` from `end()` | forward, the same tree | "
           "n/a |\n\n";
}

std::string markdown(const ContainerResult &r) {
    std::ostringstream o;
    o << "### " << r.title << ", 8-byte keys, n = " << r.n << "\n\nns/op: median (min–max) over "
      << r.reps << " repetitions\n\n| workload |";
    for (const char *name : kColumnNames) o << ' ' << name << " |";
    o << "\n|---|";
    for (int c = 0; c < kColumns; c++) o << "---:|";
    o << '\n';
    for (size_t row = 0; row < r.rows.size(); row++) {
        o << "| " << r.rows[row] << " |";
        for (int c = 0; c < kColumns; c++) o << ' ' << cell(r.ns[row][c], 1) << " |";
        o << '\n';
    }
    o << "\ntarn hpp / other column: median (min–max) of the " << r.reps
      << " per-repetition ratios (below 1: the call measured is faster)\n\n"
         "| workload | hpp / baseline | hpp / absl btree |\n|---|---:|---:|\n";
    // Two decimals; a ratio below 0.01 gets as many as its smallest figure
    // needs for two significant digits.
    auto ratio_cell = [](const std::vector<double> &a, const std::vector<double> &b) {
        std::vector<double> ratios;
        for (size_t i = 0; i < std::min(a.size(), b.size()); i++) ratios.push_back(a[i] / b[i]);
        int digits = 2;
        if (!ratios.empty() && median(ratios) < 0.01) {
            const double least = *std::min_element(ratios.begin(), ratios.end());
            digits = least > 0 ? std::min(9, 1 - int(std::floor(std::log10(least)))) : 9;
        }
        return cell(ratios, digits);
    };
    for (size_t row = 0; row < r.rows.size(); row++)
        o << "| " << r.rows[row] << " | " << ratio_cell(r.ns[row][Measured], r.ns[row][Baseline])
          << " | " << ratio_cell(r.ns[row][Measured], r.ns[row][Absl]) << " |\n";
    o << '\n';
    if (!r.note.empty()) o << r.note << '\n';
    return o.str();
}

// One gnuplot data block per workload (8-byte keys): n, then each subject's
// median.
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
            for (size_t i = 0; i < r.names.size(); i++) {
                char buf[32] = "NaN";
                if (!r.ns[i][p].empty()) std::snprintf(buf, sizeof buf, "%.2f", median(r.ns[i][p]));
                f << '\t' << buf;
            }
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
    // --rows peers: the peers' tables alone; calls: tarn.hpp's calls alone;
    // bursts: batched changes alone; summaries: summaries and algebra alone.
    std::string rows;
    const char *const groups[] = {"peers", "calls", "bursts", "summaries"};
    auto is_group = [&groups](const char *name) {
        return std::any_of(std::begin(groups), std::end(groups),
                           [name](const char *g) { return !std::strcmp(g, name); });
    };
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "--out") && i + 1 < argc)
            out = argv[++i];
        else if (!std::strcmp(argv[i], "--quick"))
            scale = 0.1;
        else if (!std::strcmp(argv[i], "--ab") && i + 2 < argc) {
            g_ab = true;
            if (!LoadedCalls<0>::load(argv[i + 1]) || !LoadedCalls<1>::load(argv[i + 2]))
                return std::fprintf(stderr, "cannot load %s or %s\n", argv[i + 1], argv[i + 2]), 2;
            i += 2;
        } else if (!std::strcmp(argv[i], "--subjects") && i + 1 < argc)
            g_subjects = argv[++i];
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
            only = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--rows") && i + 1 < argc && is_group(argv[i + 1]))
            rows = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: %s [--out DIR] [--quick] [--only N] "
                         "[--rows peers|calls|bursts|summaries] [--subjects A,B,...] "
                         "[--ab OLD.so NEW.so]\n",
                         argv[0]);
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
    auto group = [&rows](const char *name) { return rows.empty() || rows == name; };
    std::vector<Result> results; // --only N: the 8-byte run at n = N alone
    if (group("peers")) {
        if (wanted(1000)) results.push_back(run_config<uint64_t>("8-byte", 1000, reps(300)));
        if (wanted(100000)) results.push_back(run_config<uint64_t>("8-byte", 100000, reps(9)));
        if (wanted(1000000)) results.push_back(run_config<uint64_t>("8-byte", 1000000, reps(5)));
        if (only == 0 || only == 16) // --only 16: the 16-byte run alone
            results.push_back(run_config<Key16>("16-byte", 1000000, reps(5)));
    }
    // tarn.hpp's rows against other ways to their answers; not in an A/B
    // run, whose two builds share this one compiled tarn.hpp.
    std::vector<ContainerResult> calls, bursts, summaries;
    if (group("calls") && !g_ab) {
        if (wanted(1000)) calls.push_back(run_container(1000, reps(300)));
        if (wanted(100000)) calls.push_back(run_container(100000, reps(15)));
        if (wanted(1000000)) calls.push_back(run_container(1000000, reps(9)));
    }
    if (group("bursts") && !g_ab) {
        if (wanted(1000)) bursts.push_back(run_bursts(1000, reps(300)));
        if (wanted(100000)) bursts.push_back(run_bursts(100000, reps(15)));
        if (wanted(1000000)) bursts.push_back(run_bursts(1000000, reps(9)));
    }
    if (group("summaries") && !g_ab) {
        if (wanted(100000)) summaries.push_back(run_summaries(100000, reps(15)));
        if (wanted(1000000)) summaries.push_back(run_summaries(1000000, reps(9)));
    }

    // Each group's tables, after the legend of its rows.
    auto tables = [](const std::string &legend, const std::vector<ContainerResult> &group) {
        std::string text = group.empty() ? "" : legend;
        for (const ContainerResult &r : group) text += markdown(r);
        return text;
    };
    const std::string calls_text = tables(container_legend(), calls),
                      bursts_text = tables(burst_legend(), bursts),
                      summaries_text = tables(summary_legend(), summaries);
    std::string text;
    for (const Result &r : results) text += markdown(r);
    text += calls_text + bursts_text + summaries_text;
    std::fputs(text.c_str(), stdout);
    if (!out.empty() && !results.empty()) { // the peers' tables
        std::string peers;
        for (const Result &r : results) peers += markdown(r);
        std::ofstream(out + "/table.md") << peers;
        write_plot_data(results, out + "/ns_per_op.dat");
    }
    if (!out.empty() && !calls.empty()) std::ofstream(out + "/calls.md") << calls_text;
    if (!out.empty() && !bursts.empty()) std::ofstream(out + "/bursts.md") << bursts_text;
    if (!out.empty() && !summaries.empty()) std::ofstream(out + "/summaries.md") << summaries_text;
    return 0;
}
