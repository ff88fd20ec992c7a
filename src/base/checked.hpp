// SPDX-License-Identifier: MIT
// The checked build: built with TARN_CHECKED=1, each call checks what it can
// afford to and stops at the first misuse with one line on standard error
// naming the call. The switch is read here and nowhere else: at 0 every
// check below is empty, and the library is the release one.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "base/tree.hpp"

#ifndef TARN_CHECKED
#define TARN_CHECKED 0
#endif

namespace tarn::lib {

inline constexpr bool checked_build = TARN_CHECKED != 0;

// Set-up leaves this mark in the upper half of flags, in the checked build
// only. The all-zero descriptor callers start from lacks it, and it travels
// with every copy, move and replica of a descriptor that was set up.
inline constexpr uint64_t set_up_mark = uint64_t(0x7461726e) << 32; // "tarn"

[[noreturn, gnu::cold, gnu::noinline]] inline void misuse(const char *call, const char *what) {
    std::fprintf(stderr, "%s: %s\n", call, what);
    std::abort();
}

inline void mark_set_up(tarn_head *head) {
    if constexpr (checked_build) head->flags |= set_up_mark;
}

// Every call but set-up; a NULL head is left to the call. O(1).
inline void check_descriptor(const tarn_head *head, const char *call) {
    if constexpr (checked_build) {
        if (!head) return;
        if ((head->flags & set_up_mark) != set_up_mark)
            misuse(call, "descriptor used before set-up");
        if (head->key_length > TARN_MAX_KEY_LEN) misuse(call, "descriptor key length above 140");
    }
}

// The changing calls act on the descriptor's own root and count, which a
// replica only copied. O(1).
inline void check_changeable(const tarn_head *head, const char *call) {
    check_descriptor(head, call);
    if constexpr (checked_build)
        if (head && (head->flags & TARN_HEAD_REPLICA))
            misuse(call, "tree changed through a replica descriptor");
}

// Insertion zeroes the node: a linked one would be cut out of its tree
// with the links into it left dangling. O(1).
inline void check_unlinked(const tarn_node *node, const char *call) {
    if constexpr (checked_build)
        if (node->in_tree == 1) misuse(call, "node is already linked");
}

// A linked node must lead up to head's own root. O(log n).
inline void check_member(const tarn_head *head, const tarn_node *node, const char *call) {
    if constexpr (checked_build) {
        const tarn_node *top = node;
        for (uint32_t depth = 1; top->parent && depth < max_depth; depth++) top = top->parent;
        if (top->parent || top != head->root) misuse(call, "node is linked in another tree");
    }
}

// A holding cursor steps through links, which are only valid while its node
// is linked: a change without a yield leaves it holding a removed node. O(1).
inline void check_cursor(const tarn_iterator *it, const char *call) {
    if constexpr (checked_build)
        if (it && it->current && it->current->in_tree != 1)
            misuse(call, "cursor holds a node no longer linked (the tree changed without a yield)");
}

} // namespace tarn::lib
