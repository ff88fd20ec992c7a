// Every tree of up to eight keys as each insertion order builds it, and each
// removal order of every tree of up to six. After every change the whole tree
// is checked, verification agrees, and the nodes linked are the model's keys
// in order; a removed node is left unlinked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <string>
#include <vector>

#include "tarn.h"
#include "tree_check.hpp"

namespace {

struct Rec {
    tarn_node node;
    uint8_t key;
};

struct Tree {
    Rec recs[8];
    tarn_head head;
    bool linked[8]; // the model
};

struct Small : Tree {
    tarn_tests::TreeCheck check;

    void clear() {
        for (uint8_t k = 0; k < 8; k++) recs[k] = {{}, k}, linked[k] = false;
        head = {}, tarn_init(&head, 1, offsetof(Rec, key), nullptr, nullptr);
    }
    // Links or unlinks key's record, then checks: the first failure, or nullptr.
    const char *change(uint8_t key, bool link) {
        tarn_node &n = recs[key].node;
        if (link && tarn_insert(&head, &n) != 1) return "insertion refused";
        if (!link) tarn_delete(&head, &n);
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

TEST(SmallTrees, EveryInsertionOrderOfUpToEightKeys) {
    Small t;
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
TEST(SmallTrees, EveryRemovalOrderOfEveryTreeOfUpToSixKeys) {
    Small t;
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

} // namespace
