// The whole-tree invariant checker, free of any test framework so that the
// GoogleTest suite and the fuzzer share one copy of it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tarn.h"

namespace tarn_check {

// a against b under head's key comparison, both given as linked nodes.
inline uint32_t compare_nodes(const tarn_head &head, const tarn_node *a, const tarn_node *b) {
    const auto *ka = reinterpret_cast<const uint8_t *>(a) + head.key_offset - head.node_offset;
    const auto *kb = reinterpret_cast<const uint8_t *>(b) + head.key_offset - head.node_offset;
    if (head.compare) return head.compare(ka, kb);
    int r = std::memcmp(ka, kb, head.key_length);
    return r < 0 ? TARN_CMP_LESS : r > 0 ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
}

namespace detail {

struct Walk {
    std::string problem;
    std::vector<const tarn_node *> in_order;
};

// Height of n's subtree; the first problem met is kept in w. 100 levels
// are more than any AVL tree in memory can have: deeper means a cycle.
inline int visit(Walk &w, const tarn_node *n, const tarn_node *parent, int depth) {
    if (!n || !w.problem.empty()) return 0;
    if (depth > 100) {
        w.problem = "depth over 100: a cycle?";
        return 0;
    }
    if (n->parent != parent) w.problem = "wrong parent link";
    if (n->in_tree != 1) w.problem = "linked node with in_tree != 1";
    int hl = visit(w, n->left, n, depth + 1);
    w.in_order.push_back(n);
    int hr = visit(w, n->right, n, depth + 1);
    uint32_t expected = hl > hr ? TARN_BAL_LH : hr > hl ? TARN_BAL_RH : TARN_BAL_EQ;
    if (w.problem.empty() && (hl - hr > 1 || hr - hl > 1 || n->balance != expected))
        w.problem = "balance code " + std::to_string(n->balance) + " with heights " +
                    std::to_string(hl) + "/" + std::to_string(hr);
    return std::max(hl, hr) + 1;
}

} // namespace detail

// Checks the tree under head's own root: parent links, in_tree of every
// linked node, real heights against balance codes, count, and with
// check_order that each key compares greater than the one before it. On
// success fills in_order (when given) and returns ""; otherwise names the
// first problem.
inline std::string tree_problem(const tarn_head &head, bool check_order,
                                std::vector<const tarn_node *> *in_order = nullptr) {
    detail::Walk w;
    w.in_order.reserve(std::min<uint64_t>(head.count, 4096));
    detail::visit(w, head.root, nullptr, 1);
    if (!w.problem.empty()) return w.problem;
    if (head.count != w.in_order.size())
        return "count " + std::to_string(head.count) + " but " + std::to_string(w.in_order.size()) +
               " nodes";
    for (size_t i = 1; check_order && i < w.in_order.size(); i++)
        if (compare_nodes(head, w.in_order[i], w.in_order[i - 1]) != TARN_CMP_GREATER)
            return "keys out of order at position " + std::to_string(i);
    if (in_order) *in_order = std::move(w.in_order);
    return "";
}

} // namespace tarn_check
