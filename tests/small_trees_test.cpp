// SPDX-License-Identifier: MIT
// Every tree of up to eight keys as each insertion order builds it, and each
// removal order of every tree of up to six. After every change the whole tree
// is checked, verification agrees, and the nodes linked are the model's keys
// in order; a removed node is left unlinked. Once through the C calls, once
// through the core with a hook that keeps the largest key below each node,
// which must then be right at every node: the hook hears of every node a
// change moves, and the climbs stop only where nothing above can change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "tarn.h"
#define TARN_PORTABLE_TWO_WAY // the core's way without assembly here, the library's with
#include "tarn/algebra.hpp"
#include "tree_check.hpp"

namespace {

struct Rec {
    tarn_node node;
    uint8_t key;
    uint8_t largest; // key in its subtree, kept by the hook
    uint8_t odd;     // keys in its subtree, likewise
};

// A summary that often stays as it was, so the climbs stop early (an even
// key not the largest), and that counts, so a record taken in twice shows.
struct largest_key {
    static constexpr bool active = true;
    static const Rec *rec(const tarn_node *n) { return reinterpret_cast<const Rec *>(n); }
    static int largest(const tarn_node *n) { return n ? rec(n)->largest : -1; }
    static int odd(const tarn_node *n) { return n ? rec(n)->odd : 0; }
    static bool refresh(tarn_node *n) {
        Rec &r = *reinterpret_cast<Rec *>(n);
        const Rec was = r;
        r.largest = uint8_t(std::max({int(r.key), largest(n->left), largest(n->right)}));
        r.odd = uint8_t((r.key & 1) + odd(n->left) + odd(n->right));
        return r.largest != was.largest || r.odd != was.odd;
    }
    // By the difference, as a summary may above what a change restructured:
    // wrong below it, which the check after every step would see.
    static bool gained(tarn_node *n, const tarn_node *added) {
        Rec &r = *reinterpret_cast<Rec *>(n);
        const uint8_t key = rec(added)->key;
        r.odd = uint8_t(r.odd + (key & 1));
        return key > r.largest ? (r.largest = key, true) : (key & 1) != 0;
    }
    static bool lost(tarn_node *n, const tarn_node *removed) {
        Rec &r = *reinterpret_cast<Rec *>(n);
        const uint8_t key = rec(removed)->key;
        if (key >= r.largest) return refresh(n);
        r.odd = uint8_t(r.odd - (key & 1));
        return (key & 1) != 0;
    }
};

// Whether every node's summary is its subtree's.
bool summaries_hold(const tarn_node *n) {
    if (!n) return true;
    Rec probe = *reinterpret_cast<const Rec *>(n);
    return !largest_key::refresh(&probe.node) && summaries_hold(n->left) &&
           summaries_hold(n->right);
}

struct Tree {
    Rec recs[8];
    tarn_head head;
    bool linked[8]; // the model
};

template <bool ThroughCore>
struct Small : Tree {
    tarn_tests::TreeCheck check;

    void clear() {
        for (uint8_t k = 0; k < 8; k++) recs[k] = {{}, k, 0, 0}, linked[k] = false;
        head = {}, tarn_init(&head, 1, offsetof(Rec, key), nullptr, nullptr);
    }
    // Links or unlinks key's record, then checks: the first failure, or nullptr.
    const char *change(uint8_t key, bool link) {
        tarn_node &n = recs[key].node;
        using namespace tarn::detail;
        if constexpr (ThroughCore) {
            if (link && (n = {}, insert<largest_key>(head, &n, offsetof(Rec, key),
                                                     word_order<uint8_t>(&key))))
                return "insertion refused";
            if (!link) unlink<largest_key>(head, &n);
            if (!summaries_hold(head.root)) return "a summary is wrong";
            for (uint8_t probe = 0; head.root && probe < 8; probe++) { // the two-way floor
                word_order<uint8_t> order(&probe);
                tarn_node *floor = answer_of(
                    descend<two_ways<side::left, false>>(head.root, offsetof(Rec, key), order));
                int want = probe; // the greatest key linked now, not above probe
                while (want >= 0 && !(want == key ? link : linked[want])) want--;
                if (floor != (want < 0 ? nullptr : &recs[want].node)) return "floor";
            }
        }
        if (!ThroughCore && link && tarn_insert(&head, &n) != 1) return "insertion refused";
        if (!ThroughCore && !link) tarn_delete(&head, &n);
        if (!link && (n.in_tree || n.left || n.right || n.parent)) return "removed node linked";
        linked[key] = link;
        if (const char *failure = check(head)) return failure;
        if (tarn_verify_balance_factors(&head) != 1) return "verification fails";
        const auto &in = check.walk[TARN_WALK_INORDER];
        size_t i = 0;
        bool same = true;
        for (uint8_t k = 0; k < 8; k++)
            if (linked[k]) same = same && i < in.size() && in[i++] == &recs[k].node;
        return same && i == in.size() ? nullptr : "nodes linked are not the model's keys in order";
    }
};

// Calls visit on each order of the keys 0..n-1 while it answers true.
template <class Visit>
bool each_order(size_t n, Visit visit) {
    uint8_t order[8];
    std::iota(order, order + n, uint8_t(0));
    while (visit(order))
        if (!std::next_permutation(order, order + n)) return true;
    return false;
}

std::string spell(const uint8_t *keys, size_t n) {
    return testing::PrintToString(std::vector<int>(keys, keys + n));
}

template <bool ThroughCore>
void every_insertion_order_of_up_to_eight_keys() {
    Small<ThroughCore> t;
    for (size_t n = 1; n <= 8; n++)
        each_order(n, [&](const uint8_t *order) {
            t.clear();
            for (size_t i = 0; i < n; i++)
                if (const char *failure = t.change(order[i], true))
                    return ADD_FAILURE() << failure << " inserting " << spell(order, i + 1), false;
            return true;
        });
}

// The tree is built once per insertion order and copied back before each
// removal order: the nodes' addresses stay, so the copy restores every link.
template <bool ThroughCore>
void every_removal_order_of_every_tree_of_up_to_six_keys() {
    Small<ThroughCore> t;
    for (size_t n = 1; n <= 6; n++)
        each_order(n, [&](const uint8_t *built) {
            t.clear();
            for (size_t i = 0; i < n; i++) t.change(built[i], true);
            const Tree built_tree = t;
            return each_order(n, [&](const uint8_t *order) {
                static_cast<Tree &>(t) = built_tree;
                for (size_t i = 0; i < n; i++)
                    if (const char *failure = t.change(order[i], false))
                        return ADD_FAILURE() << failure << " removing " << spell(order, i + 1)
                                             << " from the tree of " << spell(built, n),
                               false;
                return true;
            });
        });
}

// Joins and splits, through the core: a tree built by each shape's order
// over keys first, first + 2, ... (odd probes fall between keys).
struct Parts {
    Rec recs[16];
    tarn_tests::TreeCheck check;
    tarn::detail::subtree build(const std::vector<uint8_t> &order, uint8_t first) {
        tarn_head h{};
        for (uint8_t k : order) {
            Rec &r = recs[first / 2 + k];
            r = {{}, uint8_t(first + 2 * k), 0, 0};
            tarn::detail::insert<largest_key>(h, &r.node, offsetof(Rec, key),
                                              tarn::detail::word_order<uint8_t>(&r.key));
        }
        return {h.root, tarn::detail::height_of(h.root)};
    }
    // The first failure of t, which should hold the keys from..to (step 2).
    const char *fails(tarn::detail::subtree t, int from, int to) {
        tarn_head h{};
        h.root = t.top, h.count = size_t(to < from ? 0 : (to - from) / 2 + 1);
        if (to < from && t.top) return "a part that should be empty is not";
        if (const char *failure = check(h)) return failure;
        if (tarn::detail::height_of(t.top) != t.height) return "height reported wrong";
        if (!summaries_hold(t.top)) return "a summary is wrong";
        for (const tarn_node *n : check.walk[TARN_WALK_INORDER])
            if (reinterpret_cast<const Rec *>(n)->key != from)
                return "keys out of place";
            else
                from += 2;
        return nullptr;
    }
};

// Each shape of tree of up to seven nodes, joined with every other around a
// key between them, and split at every key and between keys.
TEST(SmallTrees, EveryJoinAndSplitOfEveryShape) {
    std::vector<std::vector<uint8_t>> shapes; // an order that builds each
    std::set<std::string> seen;
    for (size_t n = 0; n <= 7; n++)
        each_order(n, [&](const uint8_t *order) {
            Parts p;
            tarn::detail::subtree t = p.build({order, order + n}, 0);
            std::string shape;
            p.check({t.top, nullptr, 0, nullptr, nullptr, 0, 0, 0, n});
            for (const tarn_node *node : p.check.walk[TARN_WALK_PREORDER])
                shape += char('a' + node->balance) + std::string(node->left ? "l" : "") +
                         (node->right ? "r" : "");
            if (seen.insert(std::to_string(n) + shape).second)
                shapes.emplace_back(order, order + n);
            return true;
        });
    for (const auto &left : shapes)
        for (const auto &right : shapes) {
            Parts p;
            const uint8_t middle = uint8_t(2 * left.size());
            auto joined = tarn::detail::join<largest_key>(
                p.build(left, 0), &p.recs[middle / 2].node, p.build(right, uint8_t(middle + 2)));
            p.recs[middle / 2].key = middle;
            summaries_hold(joined.top); // the middle's key set after: refresh again below
            tarn::detail::refresh_upwards<largest_key>(&p.recs[middle / 2].node, nullptr);
            if (const char *failure = p.fails(joined, 0, middle + 2 * int(right.size())))
                return ADD_FAILURE() << failure << " joining " << spell(left.data(), left.size())
                                     << " and " << spell(right.data(), right.size());
        }
    for (const auto &order : shapes)
        for (uint8_t probe = 0; probe <= 2 * order.size(); probe++) {
            Parts p;
            const auto cut = tarn::detail::split<largest_key>(
                p.build(order, 0), offsetof(Rec, key), tarn::detail::word_order<uint8_t>(&probe));
            const int last = 2 * int(order.size()) - 2, on_key = probe % 2 == 0;
            const char *failure = p.fails(cut.below, 0, std::min(last, probe - 1 - on_key));
            if (!failure) failure = p.fails(cut.above, probe + 1 + on_key, last);
            if (!failure &&
                (cut.equal != (probe % 2 || probe > last ? nullptr : &p.recs[probe / 2].node)))
                failure = "the equal node";
            if (failure)
                return ADD_FAILURE() << failure << " splitting "
                                     << spell(order.data(), order.size()) << " at " << int(probe);
        }
}

TEST(SmallTrees, EveryInsertionOrderOfUpToEightKeys) {
    every_insertion_order_of_up_to_eight_keys<false>();
    every_insertion_order_of_up_to_eight_keys<true>();
}

TEST(SmallTrees, EveryRemovalOrderOfEveryTreeOfUpToSixKeys) {
    every_removal_order_of_every_tree_of_up_to_six_keys<false>();
    every_removal_order_of_every_tree_of_up_to_six_keys<true>();
}

} // namespace
