// SPDX-License-Identifier: MIT
// The peers, each through its public interface as its users would write it.
// Every peer but std::set is optional: its block compiles only when its
// package was found at configure time.
#pragma once

#include <cstddef>
#include <set>

#include "harness.hpp"

namespace bench {

// Shared shape of the in-order answers over sorted iterators.
template <class Key, class It, class KeyOf>
uint64_t range_from(It it, It end, const Key &high, KeyOf key_of, uint64_t sum) {
    for (; it != end && !(high < key_of(*it)); ++it) sum = mix(sum, digest(key_of(*it)));
    return sum;
}

// The queries of a sorted set of keys, shared by the set-like peers.
template <class Key, class Set>
class SortedSetSubject : public Subject<Key> {
  protected:
    Set set_;
    const Workload<Key> *w_ = nullptr;

  public:
    uint64_t lookup_all(ProbeSet set) override {
        uint64_t sum = 0;
        for (const Key &k : w_->lookups[set]) {
            auto it = set_.find(k);
            sum = mix(sum, it != set_.end() ? digest(*it) : kNotFound);
        }
        return sum;
    }
    uint64_t floor_all(ProbeSet set) override {
        uint64_t sum = 0;
        for (const Key &k : w_->floors[set]) {
            auto it = set_.upper_bound(k);
            sum = mix(sum, it != set_.begin() ? digest(*std::prev(it)) : kNotFound);
        }
        return sum;
    }
    uint64_t scan_all() override {
        uint64_t sum = 0;
        for (const Key &k : set_) sum = mix(sum, digest(k));
        return sum;
    }
    uint64_t range_all() override {
        uint64_t sum = 0;
        auto self = [](const Key &k) -> const Key & { return k; };
        for (size_t i = 0; i < w_->range_low.size(); i++)
            sum = range_from(set_.lower_bound(w_->range_low[i]), set_.end(), w_->range_high[i],
                             self, sum);
        return sum;
    }
};

// Allocating red-black tree; removal through the iterator kept at insertion.
template <class Key>
class StdSet final : public SortedSetSubject<Key, std::set<Key>> {
    using SortedSetSubject<Key, std::set<Key>>::set_;
    using SortedSetSubject<Key, std::set<Key>>::w_;
    std::vector<typename std::set<Key>::iterator> handles_;

  public:
    std::string name() const override { return "std::set"; }
    void prepare(const Workload<Key> &w) override {
        w_ = &w;
        handles_.resize(w.keys.size());
    }
    uint64_t insert_all() override {
        uint64_t linked = 0;
        for (size_t i = 0; i < w_->keys.size(); i++) {
            auto [it, fresh] = set_.insert(w_->keys[i]);
            handles_[i] = it;
            linked += fresh;
        }
        return linked;
    }
    uint64_t remove_all() override {
        uint64_t removed = 0;
        for (uint32_t i : w_->removals) {
            set_.erase(handles_[i]);
            removed++;
        }
        return removed + set_.size();
    }
};

} // namespace bench

#ifdef TARN_BENCH_HAVE_BOOST
#include <boost/intrusive/avl_set.hpp>
#include <boost/intrusive/set.hpp>

namespace bench {

namespace bi = boost::intrusive;

// Intrusive sets with default hooks; removal by node (iterator_to).
template <class Key, class Hook, template <class...> class Tree>
class BoostSubject final : public Subject<Key> {
    struct Record : Hook {
        Key key;
    };
    struct KeyOf {
        using type = Key;
        const Key &operator()(const Record &r) const { return r.key; }
    };
    using Set = Tree<Record, bi::key_of_value<KeyOf>>;

    std::vector<Record> records_;
    Set set_;
    const Workload<Key> *w_ = nullptr;
    const char *name_;

  public:
    explicit BoostSubject(const char *name) : name_(name) {}
    ~BoostSubject() override { set_.clear(); }
    std::string name() const override { return name_; }
    void prepare(const Workload<Key> &w) override {
        set_.clear();
        w_ = &w;
        records_ = std::vector<Record>(w.keys.size());
        for (size_t i = 0; i < w.keys.size(); i++) records_[i].key = w.keys[i];
    }
    uint64_t insert_all() override {
        uint64_t linked = 0;
        for (Record &r : records_) linked += set_.insert(r).second;
        return linked;
    }
    uint64_t lookup_all(ProbeSet set) override {
        uint64_t sum = 0;
        for (const Key &k : w_->lookups[set]) {
            auto it = set_.find(k);
            sum = mix(sum, it != set_.end() ? digest(it->key) : kNotFound);
        }
        return sum;
    }
    uint64_t floor_all(ProbeSet set) override {
        uint64_t sum = 0;
        for (const Key &k : w_->floors[set]) {
            auto it = set_.upper_bound(k);
            sum = mix(sum, it != set_.begin() ? digest(std::prev(it)->key) : kNotFound);
        }
        return sum;
    }
    uint64_t scan_all() override {
        uint64_t sum = 0;
        for (const Record &r : set_) sum = mix(sum, digest(r.key));
        return sum;
    }
    uint64_t range_all() override {
        uint64_t sum = 0;
        for (size_t i = 0; i < w_->range_low.size(); i++)
            sum = range_from(set_.lower_bound(w_->range_low[i]), set_.end(), w_->range_high[i],
                             KeyOf{}, sum);
        return sum;
    }
    uint64_t remove_all() override {
        uint64_t removed = 0;
        for (uint32_t i : w_->removals) {
            set_.erase(set_.iterator_to(records_[i]));
            removed++;
        }
        return removed + set_.size();
    }
};

template <class Key>
using BoostAvl = BoostSubject<Key, bi::avl_set_base_hook<>, bi::avl_set>;
template <class Key>
using BoostRb = BoostSubject<Key, bi::set_base_hook<>, bi::set>;

} // namespace bench
#endif

#ifdef TARN_BENCH_HAVE_BSD
#ifndef __unused // the header expects the BSD spelling of the attribute
#define __unused __attribute__((unused))
#endif
#include <bsd/sys/tree.h>

namespace bench {

template <class Key>
struct BsdRecord {
    RB_ENTRY(BsdRecord) link;
    Key key;
};

template <class Record>
int bsd_compare(Record *a, Record *b) {
    return a->key < b->key ? -1 : b->key < a->key ? 1 : 0;
}

// The macros generate plain functions per tree type; Ops gathers them.
#define TARN_BENCH_BSD_TREE(Tree, Key)                                                             \
    RB_HEAD(Tree, BsdRecord<Key>);                                                                 \
    RB_GENERATE_STATIC(Tree, BsdRecord<Key>, link, bsd_compare<BsdRecord<Key>>)                    \
    struct Tree##Ops {                                                                             \
        using Head = Tree;                                                                         \
        using Record = BsdRecord<Key>;                                                             \
        static Record *insert(Head *h, Record *r) { return RB_INSERT(Tree, h, r); }                \
        static Record *remove(Head *h, Record *r) { return RB_REMOVE(Tree, h, r); }                \
        static Record *find(Head *h, Record *r) { return RB_FIND(Tree, h, r); }                    \
        static Record *nfind(Head *h, Record *r) { return RB_NFIND(Tree, h, r); }                  \
        static Record *next(Record *r) { return RB_NEXT(Tree, h, r); }                             \
        static Record *prev(Record *r) { return RB_PREV(Tree, h, r); }                             \
        static Record *min(Head *h) { return RB_MIN(Tree, h); }                                    \
        static Record *max(Head *h) { return RB_MAX(Tree, h); }                                    \
    };

TARN_BENCH_BSD_TREE(BsdTree8, uint64_t)
TARN_BENCH_BSD_TREE(BsdTree16, Key16)
#undef TARN_BENCH_BSD_TREE

template <class Key, class Ops>
class BsdSubject final : public Subject<Key> {
    using Record = typename Ops::Record;
    std::vector<Record> records_;
    typename Ops::Head head_ = RB_INITIALIZER(&head_);
    const Workload<Key> *w_ = nullptr;

    static Record probe(const Key &k) {
        Record r{};
        r.key = k;
        return r;
    }

  public:
    std::string name() const override { return "bsd RB"; }
    void prepare(const Workload<Key> &w) override {
        RB_INIT(&head_);
        w_ = &w;
        records_ = std::vector<Record>(w.keys.size()); // fresh pages on each call
        for (size_t i = 0; i < w.keys.size(); i++) records_[i].key = w.keys[i];
    }
    uint64_t insert_all() override {
        uint64_t linked = 0;
        for (Record &r : records_) linked += Ops::insert(&head_, &r) == nullptr;
        return linked;
    }
    uint64_t lookup_all(ProbeSet set) override {
        uint64_t sum = 0;
        for (const Key &k : w_->lookups[set]) {
            Record p = probe(k);
            Record *r = Ops::find(&head_, &p);
            sum = mix(sum, r ? digest(r->key) : kNotFound);
        }
        return sum;
    }
    uint64_t floor_all(ProbeSet set) override {
        uint64_t sum = 0;
        for (const Key &k : w_->floors[set]) {
            Record p = probe(k);
            Record *r = Ops::nfind(&head_, &p); // least not below k
            if (!r)
                r = Ops::max(&head_);
            else if (!(r->key == k))
                r = Ops::prev(r);
            sum = mix(sum, r ? digest(r->key) : kNotFound);
        }
        return sum;
    }
    uint64_t scan_all() override {
        uint64_t sum = 0;
        for (Record *r = Ops::min(&head_); r; r = Ops::next(r)) sum = mix(sum, digest(r->key));
        return sum;
    }
    uint64_t range_all() override {
        uint64_t sum = 0;
        for (size_t i = 0; i < w_->range_low.size(); i++) {
            Record p = probe(w_->range_low[i]);
            for (Record *r = Ops::nfind(&head_, &p); r && !(w_->range_high[i] < r->key);
                 r = Ops::next(r))
                sum = mix(sum, digest(r->key));
        }
        return sum;
    }
    uint64_t remove_all() override {
        uint64_t removed = 0;
        for (uint32_t i : w_->removals) removed += Ops::remove(&head_, &records_[i]) != nullptr;
        return removed + (RB_EMPTY(&head_) ? 0 : 1);
    }
};

template <class Key>
using BsdRb = BsdSubject<Key, std::conditional_t<sizeof(Key) == 8, BsdTree8Ops, BsdTree16Ops>>;

} // namespace bench
#endif

#ifdef TARN_BENCH_HAVE_LIBAVL
extern "C" { // a C header that names parameters "new"
#define new new_node
#include <avl.h>
#undef new
}

namespace bench {

// libavl: the item of each embedded node points at its record's key, so
// the comparator (a function pointer, as tarn's comparator mode) sees keys.
template <class Key>
class LibAvl final : public Subject<Key> {
    struct Record {
        avl_node_t node;
        Key key;
    };
    static int compare(const void *a, const void *b) {
        const Key &x = *static_cast<const Key *>(a), &y = *static_cast<const Key *>(b);
        return x < y ? -1 : y < x ? 1 : 0;
    }
    static const Key &key_of(const avl_node_t *n) { return *static_cast<const Key *>(n->item); }

    std::vector<Record> records_;
    avl_tree_t tree_{};
    const Workload<Key> *w_ = nullptr;

  public:
    std::string name() const override { return "libavl"; }
    void prepare(const Workload<Key> &w) override {
        avl_init_tree(&tree_, compare, nullptr);
        w_ = &w;
        records_ = std::vector<Record>(w.keys.size()); // fresh pages on each call
        for (size_t i = 0; i < w.keys.size(); i++) records_[i].key = w.keys[i];
    }
    uint64_t insert_all() override {
        uint64_t linked = 0;
        for (Record &r : records_) {
            avl_init_node(&r.node, &r.key);
            linked += avl_insert_node(&tree_, &r.node) != nullptr;
        }
        return linked;
    }
    uint64_t lookup_all(ProbeSet set) override {
        uint64_t sum = 0;
        for (const Key &k : w_->lookups[set]) {
            avl_node_t *n = avl_search(&tree_, &k);
            sum = mix(sum, n ? digest(key_of(n)) : kNotFound);
        }
        return sum;
    }
    uint64_t floor_all(ProbeSet set) override {
        uint64_t sum = 0;
        for (const Key &k : w_->floors[set]) {
            avl_node_t *n = nullptr;
            // The result is the probe's order against n (the header says the reverse).
            if (avl_search_closest(&tree_, &k, &n) < 0 && n) n = n->prev;
            sum = mix(sum, n ? digest(key_of(n)) : kNotFound);
        }
        return sum;
    }
    uint64_t scan_all() override {
        uint64_t sum = 0;
        for (avl_node_t *n = tree_.head; n; n = n->next) sum = mix(sum, digest(key_of(n)));
        return sum;
    }
    uint64_t range_all() override {
        uint64_t sum = 0;
        for (size_t i = 0; i < w_->range_low.size(); i++) {
            avl_node_t *n = nullptr;
            if (avl_search_closest(&tree_, &w_->range_low[i], &n) > 0 && n) n = n->next;
            for (; n && !(w_->range_high[i] < key_of(n)); n = n->next)
                sum = mix(sum, digest(key_of(n)));
        }
        return sum;
    }
    uint64_t remove_all() override {
        uint64_t removed = 0;
        for (uint32_t i : w_->removals) {
            avl_unlink_node(&tree_, &records_[i].node);
            removed++;
        }
        return removed + avl_count(&tree_);
    }
};

} // namespace bench
#endif

#include <search.h>

namespace bench {

// glibc's tsearch: allocating, keyed through a comparator function; it has
// no floor or range search, so those phases are not run for it.
template <class Key>
class TSearch final : public Subject<Key> {
    static int compare(const void *a, const void *b) {
        const Key &x = *static_cast<const Key *>(a), &y = *static_cast<const Key *>(b);
        return x < y ? -1 : y < x ? 1 : 0;
    }
    static void visit(const void *node, VISIT v, void *closure) {
        if (v == postorder || v == leaf) {
            uint64_t &sum = *static_cast<uint64_t *>(closure);
            sum = mix(sum, digest(**static_cast<const Key *const *>(node)));
        }
    }

    void *root_ = nullptr;
    const Workload<Key> *w_ = nullptr;

  public:
    std::string name() const override { return "tsearch"; }
    bool supports(Phase p) const override {
        return p != Floor && p != FloorZipf && p != Range && !is_batch(p);
    }
    void prepare(const Workload<Key> &w) override { w_ = &w; }
    uint64_t insert_all() override {
        uint64_t linked = 0;
        for (const Key &k : w_->keys) {
            void *slot = tsearch(&k, &root_, compare);
            linked += *static_cast<const Key **>(slot) == &k;
        }
        return linked;
    }
    uint64_t lookup_all(ProbeSet set) override {
        uint64_t sum = 0;
        for (const Key &k : w_->lookups[set]) {
            void *slot = tfind(&k, &root_, compare);
            sum = mix(sum, slot ? digest(**static_cast<const Key **>(slot)) : kNotFound);
        }
        return sum;
    }
    uint64_t scan_all() override {
        uint64_t sum = 0;
        twalk_r(root_, visit, &sum);
        return sum;
    }
    uint64_t remove_all() override {
        uint64_t removed = 0;
        for (uint32_t i : w_->removals)
            removed += tdelete(&w_->keys[i], &root_, compare) != nullptr;
        return removed + (root_ ? 1 : 0);
    }
};

} // namespace bench

#ifdef TARN_BENCH_HAVE_ABSL
#include <absl/container/btree_set.h>

namespace bench {

// The cache-friendly reference: a B-tree of keys, removal by key.
template <class Key>
class AbslBtree final : public SortedSetSubject<Key, absl::btree_set<Key>> {
    using SortedSetSubject<Key, absl::btree_set<Key>>::set_;
    using SortedSetSubject<Key, absl::btree_set<Key>>::w_;

  public:
    std::string name() const override { return "absl btree"; }
    bool supports(Phase) const override { return true; } // batch phases: a call per key
    void prepare(const Workload<Key> &w) override { w_ = &w; }
    uint64_t insert_all() override {
        uint64_t linked = 0;
        for (const Key &k : w_->keys) linked += set_.insert(k).second;
        return linked;
    }
    uint64_t remove_all() override {
        uint64_t removed = 0;
        for (uint32_t i : w_->removals) removed += set_.erase(w_->keys[i]);
        return removed + set_.size();
    }
};

} // namespace bench
#endif
