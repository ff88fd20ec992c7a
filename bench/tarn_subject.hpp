// SPDX-License-Identifier: MIT
// tarn in its two modes, byte-wise keys (big-endian bytes, no comparator)
// and a comparator over the native key, and byte-wise through tarn.hpp.
#pragma once

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "harness.hpp"
#include "tarn.hpp"

namespace bench {

template <class Key>
inline void to_big_endian(const Key &k, uint8_t *out);

template <>
inline void to_big_endian(const uint64_t &k, uint8_t *out) {
    uint64_t be = __builtin_bswap64(k);
    std::memcpy(out, &be, 8);
}

template <>
inline void to_big_endian(const Key16 &k, uint8_t *out) {
    to_big_endian(k.hi, out);
    to_big_endian(k.lo, out + 8);
}

template <class Key>
inline Key from_big_endian(const uint8_t *in);

template <>
inline uint64_t from_big_endian(const uint8_t *in) {
    uint64_t be;
    std::memcpy(&be, in, 8);
    return __builtin_bswap64(be);
}

template <>
inline Key16 from_big_endian(const uint8_t *in) {
    return {from_big_endian<uint64_t>(in), from_big_endian<uint64_t>(in + 8)};
}

template <class Key>
uint32_t compare_native(const void *tree_side, const void *probe) {
    const Key &t = *static_cast<const Key *>(tree_side);
    const Key &p = *static_cast<const Key *>(probe);
    return t < p ? TARN_CMP_LESS : p < t ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
}

// Records and probes as tarn sees them. Byte-wise: they hold big-endian
// bytes. Comparator: they hold the native key and compare_native orders them.
template <class Key, bool bytewise>
class TarnRecords : public Subject<Key> {
  protected:
    using Stored = std::conditional_t<bytewise, std::array<uint8_t, sizeof(Key)>, Key>;
    struct Record {
        tarn_node link;
        Stored key;
    };
    static const Record *record_of(const tarn_node *n) {
        return reinterpret_cast<const Record *>(n); // link is first
    }
    static uint64_t answer(const Record *r) {
        if (!r) return kNotFound;
        if constexpr (bytewise)
            return digest(from_big_endian<Key>(r->key.data()));
        else
            return digest(r->key);
    }
    static Stored stored(const Key &k) {
        if constexpr (bytewise) {
            Stored s;
            to_big_endian(k, s.data());
            return s;
        } else {
            return k;
        }
    }
    static std::vector<Stored> convert(const std::vector<Key> &keys) {
        std::vector<Stored> out;
        out.reserve(keys.size());
        for (const Key &k : keys) out.push_back(stored(k));
        return out;
    }
    // One search per probe, its answers folded into the checksum.
    template <class Find>
    static uint64_t answers(const std::vector<Stored> &probes, Find find) {
        uint64_t sum = 0;
        for (const Stored &k : probes) sum = mix(sum, answer(find(k)));
        return sum;
    }
    // The same, kBatchKeys probes a call.
    template <class FindMany>
    static uint64_t batched(const std::vector<Stored> &probes, FindMany find_many) {
        uint64_t sum = 0;
        const Record *out[kBatchKeys];
        for (size_t at = 0; at < probes.size(); at += kBatchKeys) {
            size_t n = std::min(kBatchKeys, probes.size() - at);
            find_many(&probes[at], n, out);
            for (size_t i = 0; i < n; i++) sum = mix(sum, answer(out[i]));
        }
        return sum;
    }

    std::vector<Record> records_;
    std::array<std::vector<Stored>, kProbeSets> lookups_, floors_;
    std::vector<Stored> low_, high_;
    const std::vector<uint32_t> *removals_ = nullptr;

  public:
    void prepare(const Workload<Key> &w) override {
        for (int set = 0; set < kProbeSets; set++) {
            lookups_[set] = convert(w.lookups[set]);
            floors_[set] = convert(w.floors[set]);
        }
        low_ = convert(w.range_low);
        high_ = convert(w.range_high);
        removals_ = &w.removals;
        // Last, so that the records are what a warm insert finds in the caches.
        records_ = std::vector<Record>(w.keys.size()); // fresh pages on each call
        for (size_t i = 0; i < w.keys.size(); i++) records_[i].key = stored(w.keys[i]);
    }
};

// The C calls a subject makes: the library the bench links, or a copy loaded
// from a file, so that two builds of the library run side by side in one
// process (--ab).
// clang-format off
#define TARN_BENCH_CALLS(X)                                                 \
    X(init_new, init_new) X(insert, insert) X(lookup, lookup)               \
    X(lookup_le, lookup_le) X(init_iterator, init_iterator)                 \
    X(get_first_node, get_first_node) X(get_next_node, get_next_node)       \
    X(get_first_node_in_range, get_first_node_in_range)                     \
    X(get_next_node_in_range, get_next_node_in_range) X(remove, delete)
// clang-format on

struct LinkedCalls {
#define TARN_BENCH_LINKED(name, call) static constexpr auto name = tarn_##call;
    TARN_BENCH_CALLS(TARN_BENCH_LINKED)
};

template <int Slot>
struct LoadedCalls {
#define TARN_BENCH_LOADED(name, call) static inline decltype(&tarn_##call) name;
    TARN_BENCH_CALLS(TARN_BENCH_LOADED)
    static bool load(const char *path) {
        void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        bool found = library != nullptr;
#define TARN_BENCH_DLSYM(name, call)                                                               \
    found =                                                                                        \
        found && (name = reinterpret_cast<decltype(&tarn_##call)>(dlsym(library, "tarn_" #call)));
        TARN_BENCH_CALLS(TARN_BENCH_DLSYM)
        return found;
    }
};

// Through the C calls.
template <class Key, bool bytewise, class Calls = LinkedCalls>
class TarnSubject final : public TarnRecords<Key, bytewise> {
    using Base = TarnRecords<Key, bytewise>;
    using Base::answer, Base::answers, Base::record_of;
    using Base::records_, Base::lookups_, Base::floors_, Base::low_, Base::high_, Base::removals_;
    using typename Base::Record;
    using typename Base::Stored;
    tarn_head head_{};
    std::string name_;

  public:
    explicit TarnSubject(std::string name = bytewise ? "tarn bytes" : "tarn cmp")
        : name_(std::move(name)) {}
    std::string name() const override { return name_; }

    uint64_t insert_all() override {
        head_ = tarn_head{};
        Calls::init_new(&head_, offsetof(Record, link), sizeof(Stored), offsetof(Record, key),
                        bytewise ? nullptr : compare_native<Key>, nullptr);
        uint64_t linked = 0;
        for (Record &r : records_) linked += Calls::insert(&head_, &r.link);
        return linked;
    }

    uint64_t lookup_all(ProbeSet set) override {
        return answers(lookups_[set],
                       [this](const Stored &k) { return record_of(Calls::lookup(&head_, &k)); });
    }
    uint64_t floor_all(ProbeSet set) override {
        return answers(floors_[set],
                       [this](const Stored &k) { return record_of(Calls::lookup_le(&head_, &k)); });
    }

    uint64_t scan_all() override {
        uint64_t sum = 0;
        tarn_iterator it;
        Calls::init_iterator(&head_, &it);
        for (tarn_node *n = Calls::get_first_node(&head_, &it.current); n;
             n = Calls::get_next_node(&head_, &it))
            sum = mix(sum, answer(record_of(n)));
        return sum;
    }

    uint64_t range_all() override {
        uint64_t sum = 0;
        tarn_iterator it;
        for (size_t i = 0; i < low_.size(); i++) {
            const void *low = &low_[i], *high = &high_[i];
            Calls::init_iterator(&head_, &it);
            for (tarn_node *n = Calls::get_first_node_in_range(&head_, low, high, &it.current); n;
                 n = Calls::get_next_node_in_range(&head_, low, high, &it))
                sum = mix(sum, answer(record_of(n)));
        }
        return sum;
    }

    uint64_t remove_all() override {
        uint64_t removed = 0;
        for (uint32_t i : *removals_) {
            Calls::remove(&head_, &records_[i].link);
            removed += records_[i].link.in_tree == 0;
        }
        return removed + head_.count;
    }
};

// Through the typed C++ interface, byte-wise, as its users would write it.
template <class Key>
class TarnHpp final : public TarnRecords<Key, true> {
    using Base = TarnRecords<Key, true>;
    using Base::answer, Base::answers, Base::batched;
    using Base::records_, Base::lookups_, Base::floors_, Base::low_, Base::high_, Base::removals_;
    using typename Base::Record;
    using typename Base::Stored;
    tarn::tree<Record, &Record::link, &Record::key, tarn::bytewise> tree_;

  public:
    std::string name() const override { return "tarn hpp"; }
    uint64_t insert_all() override {
        uint64_t linked = 0;
        for (Record &r : records_) linked += tree_.insert(r);
        return linked;
    }
    uint64_t lookup_all(ProbeSet set) override {
        return answers(lookups_[set], [this](const Stored &k) { return tree_.find(k); });
    }
    uint64_t floor_all(ProbeSet set) override {
        return answers(floors_[set], [this](const Stored &k) { return tree_.floor(k); });
    }
    bool supports(Phase) const override { return true; }
    uint64_t lookup_batch_all(ProbeSet set) override {
        return batched(lookups_[set], [this](const Stored *k, size_t n, const Record **out) {
            tree_.find(k, n, const_cast<Record **>(out));
        });
    }
    uint64_t floor_batch_all(ProbeSet set) override {
        return batched(floors_[set], [this](const Stored *k, size_t n, const Record **out) {
            tree_.floor(k, n, const_cast<Record **>(out));
        });
    }
    uint64_t scan_all() override {
        uint64_t sum = 0;
        for (const Record &r : tree_) sum = mix(sum, answer(&r));
        return sum;
    }
    uint64_t range_all() override {
        uint64_t sum = 0;
        for (size_t i = 0; i < low_.size(); i++)
            for (const Record &r : tree_.range(low_[i], high_[i])) sum = mix(sum, answer(&r));
        return sum;
    }
    uint64_t remove_all() override {
        uint64_t removed = 0;
        for (uint32_t i : *removals_) {
            tree_.erase(records_[i]);
            removed += records_[i].link.in_tree == 0;
        }
        return removed + tree_.size();
    }
};

} // namespace bench
