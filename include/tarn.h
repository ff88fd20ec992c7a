/* SPDX-License-Identifier: MIT */
/*
 * tarn: intrusive AVL trees behind a flat C interface.
 *
 * The library never allocates. Every record that can be linked embeds a
 * tarn_node; the caller owns the tree descriptor (tarn_head), the records and
 * any cursor (tarn_iterator), and keeps them at stable addresses while they
 * are linked or referenced. Ordering comes from a fixed-length key at a fixed
 * offset in every record, compared by a caller's function or byte by byte.
 *
 * A typical life:
 *
 *     struct flow { uint64_t bytes; tarn_node link; uint8_t addr[16]; };
 *
 *     tarn_head flows = {0};
 *     tarn_init_new(&flows, offsetof(struct flow, link), 16,
 *                   offsetof(struct flow, addr), NULL, NULL);  // byte-wise
 *     tarn_insert(&flows, &f->link);                  // 0: key already there
 *     tarn_node *n = tarn_lookup(&flows, addr);        // node address or NULL
 *     struct flow *g = tarn_lookup_user_data(&flows, addr);  // record address
 *
 *     tarn_iterator it;                                // ordered scan
 *     tarn_init_iterator(&flows, &it);
 *     for (tarn_node *n = tarn_get_first_node(&flows, &it.current); n;
 *          n = tarn_get_next_node(&flows, &it)) {
 *         ...
 *         tarn_pre_sched_yield(&flows, &it);  // before the tree may change
 *     }
 *
 *     tarn_delete(&flows, &f->link);                   // unlink by node
 *
 * Nothing needs tearing down: once every node is unlinked or forgotten, the
 * descriptor's memory is the caller's again.
 *
 * Conventions. Results are 0/NULL for failure, not found or a stopped walk,
 * and 1 or an address for success. A NULL descriptor gives the failure value,
 * except that the emptiness query, the walks, the print and the verification
 * treat it as an empty tree. Each call below says which pointer arguments it
 * tests; an argument it does not test must be valid. The library takes no
 * locks: one writer at a time per tree, with no reader running alongside it.
 *
 * Checked build. A library built with TARN_CHECKED (CMake -DTARN_CHECKED=ON)
 * stops at the first misuse it sees, writing one line that names the call
 * and the misuse to standard error, then aborting: a descriptor not set up
 * (set-up leaves a mark in the upper half of flags) or holding a key length
 * above 140; a change through a replica; inserting a node whose in_tree is 1
 * (so zero new records: a copy of a linked record is not unlinked); removing
 * a node linked in another tree; stepping a cursor that holds a node removed
 * without a yield.
 *
 * Comparators return TARN_CMP_EQUAL, TARN_CMP_GREATER (the tree side is
 * greater than the probe: a search goes left) or TARN_CMP_LESS (it goes
 * right). The tree side is always the first argument. With no comparator,
 * keys compare as memcmp over key_length bytes (unsigned, first byte most
 * significant). Codes outside 0..2 steer each call down one fixed branch,
 * documented with the call where it matters.
 */
#ifndef TARN_H
#define TARN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define TARN_API
#else
#define TARN_API __attribute__((visibility("default")))
#endif

/* Longest key, in bytes, that a descriptor accepts and a cursor can save. */
#define TARN_MAX_KEY_LEN 140

/* tarn_head.flags: the descriptor is a replica reading origin's tree. */
#define TARN_HEAD_REPLICA 1

/* tarn_node.balance: which subtree is taller. */
#define TARN_BAL_EQ 0
#define TARN_BAL_RH 1
#define TARN_BAL_LH 2

/* Comparator results, read as "the tree side is ... the probe". */
#define TARN_CMP_EQUAL 0
#define TARN_CMP_GREATER 1
#define TARN_CMP_LESS 2

/* Orders of tarn_walk_tree_v2 and tarn_print_tree. */
#define TARN_WALK_PREORDER 0
#define TARN_WALK_INORDER 1
#define TARN_WALK_POSTORDER 2

/* Embedded in each record at the descriptor's node_offset. Note: right
 * comes before left. */
typedef struct tarn_node {
    uint32_t balance;         /* TARN_BAL_EQ, _RH or _LH */
    uint32_t in_tree;         /* 1 while linked, else 0 */
    struct tarn_node *right;  /* greater keys */
    struct tarn_node *left;   /* smaller keys */
    struct tarn_node *parent; /* NULL at the root */
} tarn_node;

/* Key comparison: tree_side is a linked node's key address (for the probe
 * calls, the node's own address); probe is the caller's key or probe. */
typedef uint32_t (*tarn_compare_fn)(const void *tree_side, const void *probe);
/* As tarn_compare_fn, with tarn_lookup_exact's extra value handed through. */
typedef uint32_t (*tarn_compare_exact_fn)(const void *tree_side, const void *probe, uint32_t extra);

/* The tree descriptor: nine 64-bit words, caller-allocated. Callers read
 * count directly; they write nothing but root (zeroed before set-up). */
typedef struct tarn_head {
    tarn_node *root;                     /* NULL when empty */
    struct tarn_head *origin;            /* replicas: the descriptor copied */
    uint64_t flags;                      /* TARN_HEAD_REPLICA */
    tarn_compare_fn compare;             /* NULL: byte-wise */
    tarn_compare_exact_fn compare_exact; /* tarn_lookup_exact only */
    uint64_t node_offset;                /* tarn_node inside the record */
    uint64_t key_offset;                 /* key inside the record */
    uint64_t key_length;                 /* bytes, <= TARN_MAX_KEY_LEN */
    uint64_t count;                      /* linked nodes */
} tarn_head;

/* A cursor. current is the node it stands on (NULL when detached);
 * saved_key holds the key saved by the last yield, or one the caller wrote
 * to start a scan after it. */
typedef struct tarn_iterator {
    tarn_node *current;
    uint8_t saved_key[TARN_MAX_KEY_LEN];
} tarn_iterator;

/* Walk visitor: head is the descriptor passed to the walk, context the
 * walk's, handed through unread (it may be NULL). tarn_walk_tree stops when
 * it returns 0; tarn_walk_tree_v2 ignores the result. */
typedef int32_t (*tarn_walk_fn)(tarn_head *head, tarn_node *node, void *context);
/* Called by tarn_print_tree after each node's block. */
typedef void (*tarn_print_fn)(tarn_node *node);

/* ---- Set-up and state ------------------------------------------------ */

/* Configures head with node_offset 0. Fails with 0, writing nothing, when
 * head is NULL or key_length > TARN_MAX_KEY_LEN. When head->root is NULL it
 * first zeroes all nine words; otherwise it keeps root, origin, flags and
 * count and rewrites only the configuration. Returns 1.
 *
 * Re-initialising a populated descriptor leaves its nodes where the old
 * configuration put them: that the new one orders them the same way, with
 * no two equal, is the caller's concern. Floor, ceiling and the first range
 * search on a primary descriptor rely on it (so do tarn.hpp's batched floor
 * and ceiling): over keys of 1, 2, 4 or 8 bytes compared byte-wise they
 * take a two-way descent, which answers as the documented one in a tree so
 * ordered. Where the new layout lets linked keys tie or fall out of order
 * (a prefix of the old key, say), they may return another of several equal
 * nodes than the first on the path. To search a tree under another layout,
 * re-initialise a replica of it instead: replicas take the documented
 * descent. */
TARN_API int32_t tarn_init(tarn_head *head, uint64_t key_length, uint64_t key_offset,
                           tarn_compare_fn compare, tarn_compare_exact_fn compare_exact);

/* As tarn_init, storing the given node_offset. */
TARN_API int32_t tarn_init_new(tarn_head *head, uint64_t node_offset, uint64_t key_length,
                               uint64_t key_offset, tarn_compare_fn compare,
                               tarn_compare_exact_fn compare_exact);

/* Copies source into replica, then gives replica its own compare, sets
 * replica->origin = source and TARN_HEAD_REPLICA. Read-only calls on the
 * replica search source's live tree with the replica's configuration;
 * replica->root and count stay a snapshot. Does nothing if either is NULL.
 * Never change a tree through a replica. */
TARN_API void tarn_replicate_head_node(tarn_head *source, tarn_head *replica,
                                       tarn_compare_fn compare);

/* 1 when the tree (through a replica: origin's tree) is empty, else 0.
 * NULL head, or a replica with NULL origin, gives 1. */
TARN_API int32_t tarn_is_empty(const tarn_head *head);

/* ---- Changes --------------------------------------------------------- */

/* Links node, whose key is already in place, into head's own tree.
 * Returns 1, or 0 when head or node is NULL or a linked node compares equal.
 * node must not be linked anywhere: its five fields are zeroed first, also
 * when it is then refused as a duplicate. Comparator codes other than 0 and
 * 1 descend right. Aborts only on a tree corrupted from outside. */
TARN_API int32_t tarn_insert(tarn_head *head, tarn_node *node);

/* Unlinks node from head's own tree and rebalances; no comparator is
 * called. Does nothing when head or node is NULL or node->in_tree is 0.
 * Afterwards node has in_tree 0 and NULL links (balance is left as is).
 * A linked node must belong to head's tree. */
TARN_API void tarn_delete(tarn_head *head, tarn_node *node);

/* ---- Lookups (read the effective root: origin's tree for a replica) --- */

/* The node whose key compares equal to key, or NULL. Codes outside 0..2
 * descend right. NULL head gives NULL. */
TARN_API tarn_node *tarn_lookup(const tarn_head *head, const void *key);

/* As tarn_lookup, comparing with compare_exact(tree_key, key, extra); with
 * no compare_exact, byte-wise (compare is never used here). */
TARN_API tarn_node *tarn_lookup_exact(const tarn_head *head, const void *key, uint32_t extra);

/* Floor: the equal node, else the greatest node below key, else NULL.
 * Codes outside 0..2 descend left. */
TARN_API tarn_node *tarn_lookup_le(const tarn_head *head, const void *key);

/* Ceiling: the equal node, else the smallest node above key, else NULL.
 * Codes outside 0..2 record the node as candidate and descend left. */
TARN_API tarn_node *tarn_lookup_ge(const tarn_head *head, const void *key);

/* The record (node address - node_offset) found as by tarn_lookup, or NULL. */
TARN_API void *tarn_lookup_user_data(const tarn_head *head, const void *key);

/* The leftmost (smallest) node, or NULL. Stores it in *out only when one is
 * found and out is not NULL; pass &iterator->current to start a scan. */
TARN_API tarn_node *tarn_get_first_node(const tarn_head *head, tarn_node **out);

/* As tarn_get_first_node, but returns the record address; *out still
 * receives the node address. */
TARN_API void *tarn_get_first_user_data(const tarn_head *head, tarn_node **out);

/* With no comparator and key_length > 0, a NULL key or bound is never handed
 * to memcmp: a call that would compare it gives its not-found result there.
 * So a NULL key finds nothing, and neither does a range call with a NULL
 * bound, except that tarn_get_first_node_in_range2 returns a node equal to
 * low_key without reading high_key, whatever high_key is. With a comparator,
 * the key or bound is handed to it unchanged. */

/* ---- Cursors ----------------------------------------------------------- */

/* Detaches the cursor: stores NULL in current, leaves saved_key. Returns 1,
 * or 0 writing nothing when head or iterator is NULL (head is not read). */
TARN_API int32_t tarn_init_iterator(const tarn_head *head, tarn_iterator *iterator);

/* Yield point: saves current's key into saved_key and detaches, so the tree
 * may change before the next step. Does nothing when head, iterator or
 * current is NULL. */
TARN_API void tarn_pre_sched_yield(const tarn_head *head, tarn_iterator *iterator);

/* Moves the cursor to the next node in key order and returns it. Holding:
 * follows links (head unused) and stores the result, NULL at the end.
 * Detached: searches for the smallest key above saved_key and stores only a
 * node found. NULL iterator gives NULL. */
TARN_API tarn_node *tarn_get_next_node(const tarn_head *head, tarn_iterator *iterator);

/* The mirror of tarn_get_next_node: the previous node in key order. */
TARN_API tarn_node *tarn_get_previous_node(const tarn_head *head, tarn_iterator *iterator);

/* Moves the cursor as tarn_get_next_node does and returns the record of the
 * node found, or NULL (also when head is NULL, after stepping). */
TARN_API void *tarn_get_next_user_data(const tarn_head *head, tarn_iterator *iterator);

/* The node with the smallest key strictly above key, or NULL. */
TARN_API tarn_node *tarn_get_next_node_from_key(const tarn_head *head, const void *key);

/* The node with the greatest key strictly below key, or NULL. */
TARN_API tarn_node *tarn_get_previous_node_from_key(const tarn_head *head, const void *key);

/* ---- Range scans (both bounds inclusive) ------------------------------- */

/* The smallest node not below low_key, if it is not above high_key; else
 * NULL. Stores the result, NULL included, in *out when out is not NULL. */
TARN_API tarn_node *tarn_get_first_node_in_range(const tarn_head *head, const void *low_key,
                                                 const void *high_key, tarn_node **out);

/* As tarn_get_first_node_in_range, except that a node equal to low_key is
 * returned without looking at high_key. */
TARN_API tarn_node *tarn_get_first_node_in_range2(const tarn_head *head, const void *low_key,
                                                  const void *high_key, tarn_node **out);

/* Moves the cursor to the next node if it lies within [low_key, high_key],
 * and stores the result, NULL included, in current. A detached cursor
 * searches above saved_key. NULL iterator gives NULL, writing nothing; NULL
 * head gives NULL and detaches the cursor. */
TARN_API tarn_node *tarn_get_next_node_in_range(const tarn_head *head, const void *low_key,
                                                const void *high_key, tarn_iterator *iterator);

/* ---- Probe searches -----------------------------------------------------
 * compare(tree node address, probe) decides; there is no byte-wise
 * fallback, so a NULL compare fails. These start from head's own root, also
 * on a replica. probe is handed to compare, never read by the library. */

/* Descends on codes 1 (left) and 2 (right); any other code stops. Returns
 * 1 when it stopped at a node: *out is that node on code 0, NULL on any
 * other code. Returns 0 otherwise: when head or probe is NULL (out not
 * written), out is NULL (nothing searched), or root or compare is NULL or
 * the descent ran off the tree (*out = NULL). */
TARN_API int32_t tarn_search_for_node(const tarn_head *head, const void *probe, tarn_node **out);

/* As tarn_search_for_node, then unlinks the equal node with tarn_delete and
 * reports it in *out. out may be NULL; when it is not, every path that
 * returns stores NULL there unless a node was unlinked. */
TARN_API int32_t tarn_delete_node(tarn_head *head, const void *probe, tarn_node **out);

/* The first node that compares greater than probe, or NULL (also when head,
 * probe or compare is NULL). */
TARN_API tarn_node *tarn_get_next_from_node(const tarn_head *head, const void *probe);

/* The last node that compares less than probe, or NULL (also when head,
 * probe or compare is NULL). */
TARN_API tarn_node *tarn_get_prev_from_node(const tarn_head *head, const void *probe);

/* ---- Walks and diagnostics (read the effective root) ------------------- */

/* Visits every node in ascending order, iteratively. Stops and returns 0 as
 * soon as visitor returns 0; returns 1 otherwise. A NULL visitor visits
 * without calls. The step to the next node reads links after the visit. */
TARN_API int32_t tarn_walk_tree(tarn_head *head, void *context, tarn_walk_fn visitor);

/* Visits every node recursively in TARN_WALK_PREORDER, _INORDER or
 * _POSTORDER; visitor results are ignored, and a NULL visitor visits without
 * calls. Any other order visits nothing. Nodes below depth 100, which only
 * corrupted links such as a cycle produce, are not visited. */
TARN_API void tarn_walk_tree_v2(tarn_head *head, uint32_t order, void *context,
                                tarn_walk_fn visitor);

/* Prints one block per node to standard output in the given order, then
 * calls hook(node) when hook is not NULL. Stops at depth 100, as the walk. */
TARN_API void tarn_print_tree(const tarn_head *head, uint32_t order, tarn_print_fn hook);

/* 1 when every node's balance code matches its subtree heights (and those
 * differ by at most one), else 0. A tree deeper than any AVL tree that fits
 * in memory (such as a cycle of corrupted links) gives 0. */
TARN_API int32_t tarn_verify_balance_factors(const tarn_head *head);

/* ---- Layout checks ----------------------------------------------------- */

#ifdef __cplusplus
#define TARN_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define TARN_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

TARN_STATIC_ASSERT(sizeof(void *) == 8, "tarn needs 64-bit pointers");
TARN_STATIC_ASSERT(sizeof(tarn_node) == 32, "tarn_node is 32 bytes");
TARN_STATIC_ASSERT(offsetof(tarn_node, balance) == 0, "balance");
TARN_STATIC_ASSERT(offsetof(tarn_node, in_tree) == 4, "in_tree");
TARN_STATIC_ASSERT(offsetof(tarn_node, right) == 8, "right");
TARN_STATIC_ASSERT(offsetof(tarn_node, left) == 16, "left");
TARN_STATIC_ASSERT(offsetof(tarn_node, parent) == 24, "parent");
TARN_STATIC_ASSERT(sizeof(tarn_head) == 72, "tarn_head is nine words");
TARN_STATIC_ASSERT(offsetof(tarn_head, root) == 0, "root");
TARN_STATIC_ASSERT(offsetof(tarn_head, origin) == 8, "origin");
TARN_STATIC_ASSERT(offsetof(tarn_head, flags) == 16, "flags");
TARN_STATIC_ASSERT(offsetof(tarn_head, compare) == 24, "compare");
TARN_STATIC_ASSERT(offsetof(tarn_head, compare_exact) == 32, "compare_exact");
TARN_STATIC_ASSERT(offsetof(tarn_head, node_offset) == 40, "node_offset");
TARN_STATIC_ASSERT(offsetof(tarn_head, key_offset) == 48, "key_offset");
TARN_STATIC_ASSERT(offsetof(tarn_head, key_length) == 56, "key_length");
TARN_STATIC_ASSERT(offsetof(tarn_head, count) == 64, "count");
TARN_STATIC_ASSERT(offsetof(tarn_iterator, current) == 0, "current");
TARN_STATIC_ASSERT(offsetof(tarn_iterator, saved_key) == 8, "saved_key");
TARN_STATIC_ASSERT(sizeof(tarn_iterator) == 152, "tarn_iterator");

#undef TARN_STATIC_ASSERT

#ifdef __cplusplus
}
#endif

#endif /* TARN_H */
