// SPDX-License-Identifier: MIT
// The differential harness's part for tarn.hpp's container: every change
// and question of tarn::tree, under its three kinds of order (a signed number, 16
// bytes compared byte-wise, a struct by a "less" function) and with two
// kinds of summary (subtree sizes, interval ends), against a model of which
// record holds which value, in the tree or in a second tree for the tree
// algebra. Both trees are checked whole after every change, every summary
// recomputed, and the C calls on head() must answer as the members do.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "tarn.hpp"
#include "tree_check.hpp"

void container_reset(uint8_t flavor);
void container_op(const uint8_t *op, size_t index);

namespace {

struct pair_key {
    uint16_t group, id;
};
bool pair_less(const pair_key &a, const pair_key &b) {
    return a.group != b.group ? a.group < b.group : a.id < b.id;
}

// Each record holds its value in the three key forms, which all order as
// the value does.
struct Item {
    tarn::hook link;
    int32_t number;
    uint8_t bytes[16];
    pair_key pair;
    int32_t end, largest_end; // an interval [number, end), and the summary
    std::size_t size;         // the summary of subtree sizes
    uint8_t value;            // the model: the key's value
    bool linked, in_other;    // and which tree holds the record
};
constexpr size_t kItems = 48, kValues = 96; // values collide often

Item g_items[kItems];
size_t g_index;       // of the operation, for messages
const char *g_member; // the member under test
#define MEMBER(name) (g_member = name)
#define EXPECT(cond) ((cond) ? void(0) : fail(#cond, __LINE__))

[[noreturn]] void fail(const char *what, int line) {
    std::fprintf(stderr,
                 "tarn_fuzz: tarn::tree::%s: expected %s (container line %d, operation %zu)\n",
                 g_member, what, line, g_index);
    std::abort();
}

void set_key(Item &item, uint8_t v) {
    // Signed, half of them negative: bytes would misorder these.
    item.value = v, item.number = (v - int32_t(kValues / 2)) * (1 << 24) + 0x123456;
    std::fill(std::begin(item.bytes), std::end(item.bytes), uint8_t(0xC3));
    item.bytes[0] = uint8_t(v >> 4), item.bytes[15] = uint8_t(v & 15);
    item.pair = {uint16_t(v >> 3), uint16_t(v & 7)};
    item.end = item.number + (1 << 24); // the interval's length: one value
}
Item *item_of(const tarn_node *n) { return const_cast<Item *>(reinterpret_cast<const Item *>(n)); }
bool before(const tarn_node *a, const tarn_node *b) {
    return item_of(a)->value < item_of(b)->value;
}

using Numbers = tarn::tree<Item, &Item::link, &Item::number>;
using Bytes = tarn::tree<Item, &Item::link, &Item::bytes>;
using Pairs = tarn::tree<Item, &Item::link, &Item::pair, tarn::order_by<pair_key, pair_less>>;
using Sized = tarn::tree<Item, &Item::link, &Item::number, tarn::order_by<int32_t>,
                         tarn::subtree_size<&Item::size>>;
using Spans = tarn::tree<Item, &Item::link, &Item::number, tarn::order_by<int32_t>,
                         tarn::interval_ends<&Item::end, &Item::largest_end>>;

struct Base {
    virtual ~Base() = default;
    virtual void op(const uint8_t *o) = 0;
};

template <class Tree>
struct Suite final : Base {
    using Key = typename Tree::key_type;
    Tree tree, other; // other: the second tree of split, join, merge, intersect, subtract
    tarn_tests::TreeCheck check;

    static const Key &key(const Item &item) {
        if constexpr (std::is_same_v<Key, int32_t>)
            return item.number;
        else if constexpr (std::is_same_v<Tree, Bytes>)
            return item.bytes;
        else
            return item.pair;
    }
    struct Probe { // a key by value, arrays included
        Key key;
        const void *key_address() const { return &key; }
    };
    static Probe probe(uint8_t v) {
        Item item;
        set_key(item, v);
        Probe p;
        std::memcpy(&p.key, &key(item), sizeof p.key);
        return p;
    }

    // The model's records in the tree (or in other), in value order.
    std::vector<Item *> linked(bool in_other = false) const {
        std::vector<Item *> out;
        for (Item &item : g_items)
            if (in_other ? item.in_other : item.linked) out.push_back(&item);
        std::sort(out.begin(), out.end(), [](Item *a, Item *b) { return a->value < b->value; });
        return out;
    }
    // The model's answers: the nearest linked record at or above v (up), or
    // at or below it, v itself left out when strictly; the one holding v.
    Item *nearest(uint8_t v, bool up, bool strictly) const {
        Item *best = nullptr;
        for (Item &item : g_items) {
            int d = up ? item.value - v : v - item.value;
            if (item.linked && (d > 0 || (d == 0 && !strictly)) &&
                (!best || (up ? item.value < best->value : item.value > best->value)))
                best = &item;
        }
        return best;
    }
    Item *holding(uint8_t v) const {
        Item *item = nearest(v, true, false);
        return item && item->value == v ? item : nullptr;
    }
    Item *from(uint8_t v, bool strictly) const { return nearest(v, true, strictly); }
    Item *below(uint8_t v, bool strictly) const { return nearest(v, false, strictly); }
    Item *at(typename Tree::iterator it) const { return it == tree.end() ? nullptr : &*it; }

    // After every change: the whole tree, and the model's records linked.
    void checked() { // after the member under test
        for (const Tree *t : {&tree, &other}) {
            EXPECT(!check(*t->head(), before));
            std::vector<Item *> in = linked(t == &other);
            EXPECT(check.walk[TARN_WALK_INORDER].size() == in.size() && t->size() == in.size());
            for (size_t i = 0; i < in.size(); i++) {
                Item *item = item_of(check.walk[TARN_WALK_INORDER][i]);
                EXPECT(item == in[i]);
                if constexpr (!std::is_same_v<typename Tree::summary_type, tarn::no_summary>) {
                    Item copy = *item; // its summary, as its children's give it
                    EXPECT(!Tree::summary_type::summarize(copy, Tree::record_of(item->link.left),
                                                          Tree::record_of(item->link.right)));
                }
            }
        }
        for (Item &item : g_items) EXPECT(Tree::is_linked(item) == (item.linked || item.in_other));
    }

    Item *unlinked(uint8_t pick) {
        for (size_t i = 0; i < kItems; i++)
            if (Item &item = g_items[(pick + i) % kItems]; !item.linked && !item.in_other)
                return &item;
        return nullptr;
    }
    Item *any_linked(uint8_t pick) {
        std::vector<Item *> in = linked();
        return in.empty() ? nullptr : in[pick % in.size()];
    }
    typename Tree::iterator hint(uint8_t v, uint8_t how) {
        if (how & 1) return tree.lower_bound(probe(v).key); // the right one, or the blocker
        Item *item = any_linked(how >> 1);
        return how & 2 || !item ? tree.end() : Tree::iterator_to(*item);
    }

    // Inserts of every kind: plain, hinted (right and wrong hints) and by
    // check then commit. Each gives the record, or the one holding its value.
    void insert(uint8_t how, uint8_t pick, uint8_t v) {
        Item *item = unlinked(pick);
        if (!item) return;
        set_key(*item, v);
        Item *holder = holding(v), *got;
        if (how % 3 == 0) {
            MEMBER("insert");
            got = tree.insert(*item) ? item : holder;
        } else if (how % 3 == 1) {
            MEMBER("insert(hint)");
            got = at(tree.insert(hint(v, how / 3), *item));
        } else {
            MEMBER("insert_check");
            typename Tree::insert_commit_data data;
            auto [it, fresh] = tree.insert_check(probe(v).key, data);
            EXPECT(fresh == !holder && at(it) == holder);
            MEMBER("insert_commit");
            got = fresh ? at(tree.insert_commit(*item, data)) : holder;
        }
        EXPECT(got == (holder ? holder : item));
        item->linked = !holder;
        checked();
    }

    // Bursts: inserts with values repeated within the burst and already
    // held, through the tree or over its descriptor as C code owns it; and
    // erasures by record and by key, repeated too.
    void burst(uint8_t how, uint8_t pick, uint8_t seed) {
        Item *records[8];
        bool inserted[8], want[8];
        size_t n = 0;
        for (size_t i = 0; i < kItems && n <= how % 8u; i++) {
            Item &item = g_items[(pick + i * 5) % kItems];
            if (!item.in_other && (how & 8 ? item.linked || n % 3 : !item.linked))
                records[n++] = &item;
        }
        if (how & 8) {
            MEMBER(how & 16 ? "erase(keys, count)" : "erase(records, count)");
            Key keys[8];
            size_t held = 0;
            for (size_t i = 0; i < n; i++) {
                uint8_t v = how & 32 ? records[i]->value : uint8_t((seed + i * 7) % kValues);
                std::memcpy(&keys[i], probe(v).key_address(), sizeof(Key));
                Item *gone = how & 16 ? holding(v) : records[i];
                held += gone && gone->linked;
                if (gone) gone->linked = false;
            }
            if (how & 16)
                EXPECT(tree.erase(keys, n) == held);
            else
                tree.erase(records, n);
            return checked();
        }
        for (size_t i = 0; i < n; i++) {
            set_key(*records[i], uint8_t((seed + i * (seed & 3)) % kValues));
            want[i] = !holding(records[i]->value), records[i]->linked = want[i];
        }
        MEMBER(how & 16 ? "insert(head, records, count)" : "insert(records, count)");
        if constexpr (std::is_same_v<typename Tree::summary_type, tarn::no_summary>)
            if (how & 16) {
                Tree::insert(*tree.head(), records, n, inserted);
                return EXPECT(std::equal(inserted, inserted + n, want)), checked();
            }
        tree.insert(records, n, inserted);
        EXPECT(std::equal(inserted, inserted + n, want));
        checked();
    }

    // A linked record's key changed: in place, moved, or refused.
    void reposition(uint8_t pick, uint8_t step) {
        Item *item = any_linked(pick);
        if (!item) return;
        uint8_t v = step & 0x80 ? uint8_t(step % kValues)
                                : uint8_t((item->value + step % 7 + kValues - 3) % kValues);
        bool taken = holding(v) && holding(v) != item;
        set_key(*item, v);
        MEMBER("reposition");
        EXPECT(tree.reposition(*item) == !taken);
        item->linked = !taken;
        checked();
    }

    void erase(uint8_t how, uint8_t pick, uint8_t v) {
        std::vector<Item *> in = linked();
        if (in.empty()) return;
        size_t first = pick % in.size(), last = std::min(in.size(), first + v % 4);
        auto it = Tree::iterator_to(*in[first]);
        switch (how % 4) {
        case 0:
            MEMBER("erase(iterator)");
            EXPECT(at(tree.erase(it)) == (first + 1 < in.size() ? in[first + 1] : nullptr));
            in[first]->linked = false;
            break;
        case 1: {
            MEMBER("erase(first, last)");
            auto end = last < in.size() ? Tree::iterator_to(*in[last]) : tree.end();
            EXPECT(at(tree.erase(it, end)) == (last < in.size() ? in[last] : nullptr));
            for (size_t i = first; i < last; i++) in[i]->linked = false;
            break;
        }
        case 2: {
            MEMBER("erase(key)");
            Item *holder = holding(uint8_t(v % kValues));
            EXPECT(tree.erase(probe(uint8_t(v % kValues)).key) == (holder ? 1u : 0u));
            if (holder) holder->linked = false;
            break;
        }
        default:
            MEMBER("erase(record)");
            tree.erase(*in[first]);
            tree.erase(*in[first]); // unlinked now: nothing
            in[first]->linked = false;
        }
        checked();
    }

    // A sorted build from a fresh set of records, or a refusal when two of
    // them are out of order (or equal).
    void assign_sorted(uint8_t seed, uint8_t disorder) {
        MEMBER("clear");
        tree.clear();
        for (Item &item : g_items) item.linked = false;
        std::vector<Item *> records;
        for (size_t i = 0; i < kItems && records.size() < seed % 40; i++)
            if ((seed * 7 + i * 13) % 5 < 3 && !g_items[i].in_other)
                set_key(g_items[i], uint8_t(i * 2)), records.push_back(&g_items[i]);
        bool ascending = disorder % 4 || records.size() < 2;
        if (!ascending) {
            size_t at = disorder / 8 % (records.size() - 1);
            disorder & 4 ? set_key(*records[at + 1], records[at]->value)
                         : std::swap(records[at], records[at + 1]);
        }
        MEMBER("assign_sorted");
        EXPECT(tree.assign_sorted(records.begin(), records.end()) == ascending);
        for (Item *item : records) item->linked = ascending;
        checked();
    }

    // Every question about one value, each member against the model and
    // against its C call on head().
    void query(uint8_t v, uint8_t pick) {
        const Probe p = probe(v);
        const Key &k = p.key;
        const tarn_head *h = std::as_const(tree).head();
        MEMBER("find");
        EXPECT(tree.find(k) == holding(v) && tree.contains(k) == !!holding(v));
        EXPECT(tree.find(k) == Tree::record_of(tarn_lookup(h, &k)));
        MEMBER("floor");
        EXPECT(tree.floor(k) == below(v, false) &&
               tree.floor(k) == Tree::record_of(tarn_lookup_le(h, &k)));
        MEMBER("ceiling");
        EXPECT(tree.ceiling(k) == from(v, false) &&
               tree.ceiling(k) == Tree::record_of(tarn_lookup_ge(h, &k)));
        MEMBER("next_after");
        EXPECT(tree.next_after(k) == from(v, true) &&
               tree.next_after(k) == Tree::record_of(tarn_get_next_node_from_key(h, &k)));
        MEMBER("prev_before");
        EXPECT(tree.prev_before(k) == below(v, true) &&
               tree.prev_before(k) == Tree::record_of(tarn_get_previous_node_from_key(h, &k)));
        MEMBER("lower_bound, upper_bound, equal_range");
        auto [first, last] = tree.equal_range(k);
        EXPECT(at(tree.lower_bound(k)) == from(v, false) &&
               at(tree.upper_bound(k)) == from(v, true));
        EXPECT(at(first) == (holding(v) ? holding(v) : from(v, true)) && at(last) == from(v, true));
        MEMBER("first, last");
        std::vector<Item *> in = linked();
        EXPECT(tree.first() == (in.empty() ? nullptr : in.front()) &&
               tree.last() == (in.empty() ? nullptr : in.back()));
        // Batches of a few probes, as the single calls.
        Key keys[5];
        Item *out[5];
        for (size_t i = 0; i < 5; i++)
            std::memcpy(&keys[i], probe(uint8_t((v + i * pick) % kValues)).key_address(),
                        sizeof(Key));
        MEMBER("batched find, floor, ceiling");
        tree.find(keys, 5, out);
        for (size_t i = 0; i < 5; i++) EXPECT(out[i] == tree.find(keys[i]));
        tree.floor(keys, 5, out);
        for (size_t i = 0; i < 5; i++) EXPECT(out[i] == tree.floor(keys[i]));
        tree.ceiling(keys, 5, out);
        for (size_t i = 0; i < 5; i++) EXPECT(out[i] == tree.ceiling(keys[i]));
    }

    // Iteration both ways, from the ends and from a record, and ranges.
    void iterate(uint8_t low, uint8_t high, uint8_t pick) {
        std::vector<Item *> in = linked(), seen;
        MEMBER("iterator ++");
        for (Item &item : tree) seen.push_back(&item);
        EXPECT(seen == in);
        MEMBER("iterator -- (reverse)");
        seen.clear();
        for (auto it = tree.rbegin(); it != tree.rend(); ++it) seen.push_back(&*it);
        std::reverse(seen.begin(), seen.end());
        EXPECT(seen == in);
        if (!in.empty()) {
            MEMBER("iterator_to");
            size_t i = pick % in.size();
            auto it = Tree::iterator_to(*in[i]);
            EXPECT(at(std::next(it)) == (i + 1 < in.size() ? in[i + 1] : nullptr));
            EXPECT(i == 0 || &*std::prev(it) == in[i - 1]);
            EXPECT(&*std::prev(tree.end()) == in.back());
        }
        MEMBER("range");
        low %= kValues, high %= kValues;
        std::vector<Item *> want;
        for (Item *item : in)
            if (item->value >= low && item->value <= high) want.push_back(item);
        seen.clear();
        auto view = tree.range(probe(low).key, probe(high).key);
        for (Item &item : view) seen.push_back(&item);
        EXPECT(seen == want && view.empty() == want.empty());
        seen.clear();
        for (auto it = view.rbegin(); it != view.rend(); ++it) seen.push_back(&*it);
        std::reverse(seen.begin(), seen.end());
        EXPECT(seen == want);
        MEMBER("scan");
        auto s = tree.scan();
        EXPECT(s.next() == (in.empty() ? nullptr : in.front()));
        auto r = tree.scan();
        EXPECT(r.prev() == (in.empty() ? nullptr : in.back()));
        MEMBER("scan(low, high) prev");
        auto c = tree.scan(probe(low).key, probe(high).key);
        seen.clear();
        for (Item *item = c.prev(); item; item = c.prev()) seen.push_back(item);
        std::reverse(seen.begin(), seen.end());
        EXPECT(seen == want);
    }

    // What the summaries answer, against the model; an interval's end
    // changed in place, then refreshed.
    void summaries(uint8_t v, uint8_t w, uint8_t pick) {
        std::vector<Item *> in = linked();
        Item bound;
        const int32_t low = (set_key(bound, uint8_t(v % kValues)), bound.number),
                      high = (set_key(bound, uint8_t(w % kValues)), bound.number);
        if constexpr (std::is_same_v<Tree, Sized>) {
            MEMBER("nth, rank");
            for (size_t k = 0; k < in.size(); k++)
                EXPECT(tree.nth(k) == in[k] && tree.rank(*in[k]) == k);
            EXPECT(!tree.nth(in.size()));
            MEMBER("count");
            size_t want = 0;
            for (Item *item : in) want += item->number >= low && item->number <= high;
            EXPECT(tree.count(low, high) == want);
        } else if constexpr (std::is_same_v<Tree, Spans>) {
            if (Item *item = any_linked(pick)) {
                MEMBER("refresh");
                item->end = item->number + pick % 5 * (1 << 24);
                tree.refresh(*item);
                checked();
            }
            MEMBER("overlaps");
            std::vector<Item *> want, got;
            for (Item *item : in)
                if (item->number < high && low < item->end) want.push_back(item);
            for (Item &item : tree.overlaps(low, high)) got.push_back(&item);
            EXPECT(got == want);
            MEMBER("first_where");
            Item *first = nullptr;
            for (Item *item : in)
                if (!first && item->end >= high) first = item;
            EXPECT(tree.first_where([&](const Item &below) { return below.largest_end >= high; },
                                    [&](const Item &item) { return item.end >= high; }) == first);
        }
    }

    // Split, join and the set operations, between the tree and other.
    void algebra(uint8_t how, uint8_t v, uint8_t pick) {
        v %= kValues;
        std::vector<Item *> mine = linked(), theirs = linked(true);
        auto held_by = [](const std::vector<Item *> &in, uint8_t value) {
            return std::any_of(in.begin(), in.end(),
                               [value](Item *i) { return i->value == value; });
        };
        switch (how % 5) {
        case 0:
            MEMBER("insert (other)");
            for (uint8_t i = 0; i < pick % 6; i++)
                if (Item *item = unlinked(uint8_t(pick + i * 11))) {
                    set_key(*item, uint8_t((v + i * 13) % kValues));
                    const bool held = held_by(linked(true), item->value);
                    EXPECT((item->in_other = other.insert(*item)) == !held);
                }
            break;
        case 1:
            MEMBER("split");
            other = tree.split(probe(v).key);
            for (Item *item : theirs) item->in_other = false;
            for (Item *item : mine)
                if (item->value > v) item->linked = false, item->in_other = true;
            break;
        case 2:
            MEMBER("join");
            if (!mine.empty() && !theirs.empty() && mine.back()->value >= theirs.front()->value)
                return;
            tree.join(std::move(other));
            for (Item *item : theirs) item->in_other = false, item->linked = true;
            break;
        case 3:
            MEMBER("merge");
            tree.merge(other);
            for (Item *item : theirs)
                if (!held_by(mine, item->value)) item->in_other = false, item->linked = true;
            break;
        default:
            MEMBER(pick & 1 ? "intersect" : "subtract");
            pick & 1 ? tree.intersect(other) : tree.subtract(other);
            for (Item *item : mine)
                if (held_by(theirs, item->value) != bool(pick & 1)) item->linked = false;
        }
        checked();
    }

    void op(const uint8_t *o) override {
        switch (o[0] % 8) {
        case 0:
        case 1:
        case 2: return insert(o[1], o[2], uint8_t(o[3] % kValues));
        case 3: return o[1] & 64 ? burst(o[1], o[2], o[3]) : reposition(o[1], o[2]);
        case 4: return erase(o[1], o[2], o[3]);
        case 5: return o[1] < 16 ? assign_sorted(o[2], o[3]) : query(uint8_t(o[2] % kValues), o[3]);
        case 6:
            return o[1] & 128 ? algebra(o[1], o[2], o[3]) : query(uint8_t(o[2] % kValues), o[3]);
        default: return o[1] & 128 ? summaries(o[1], o[2], o[3]) : iterate(o[1], o[2], o[3]);
        }
    }
};

Base *g_suite;

} // namespace

// Starts the container's part of an input: no record linked, and one of the
// five kinds of tree, emptied while their records are still there.
void container_reset(uint8_t flavor) {
    delete g_suite;
    for (Item &item : g_items) item = Item{}, set_key(item, 0);
    switch (flavor % 5) {
    case 0: g_suite = new Suite<Numbers>; break;
    case 1: g_suite = new Suite<Bytes>; break;
    case 2: g_suite = new Suite<Pairs>; break;
    case 3: g_suite = new Suite<Sized>; break;
    default: g_suite = new Suite<Spans>;
    }
}

void container_op(const uint8_t *op, size_t index) {
    g_index = index;
    g_suite->op(op);
}
