/* SPDX-License-Identifier: MIT */
/*
 * tarn tree_dot: draws a tree as Graphviz DOT, read through the walk calls.
 *
 *     tarn_tree_dot [KEY | -KEY]...   insert KEY, or delete it, in order
 *     tarn_tree_dot | dot -Tpng -o tree.png
 *
 * With no arguments it draws a fixed example. Each node shows its key and is
 * coloured by its balance code; a missing child is drawn invisibly so that
 * left and right children keep their sides.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "tarn.h"

struct item {
    tarn_node link;
    uint8_t key[4]; /* big-endian, so byte-wise order is numeric order */
};

#define MAX_ITEMS 256

static struct item items[MAX_ITEMS];
static size_t used;

static uint32_t key_of(const tarn_node *n) {
    const struct item *it = (const struct item *)n; /* link is the first member */
    return (uint32_t)it->key[0] << 24 | (uint32_t)it->key[1] << 16 | (uint32_t)it->key[2] << 8 |
           it->key[3];
}

static void encode(uint8_t key[4], uint32_t value) {
    key[0] = (uint8_t)(value >> 24);
    key[1] = (uint8_t)(value >> 16);
    key[2] = (uint8_t)(value >> 8);
    key[3] = (uint8_t)value;
}

static void apply(tarn_head *tree, long value) {
    uint8_t key[4];
    encode(key, (uint32_t)labs(value));
    if (value < 0) {
        tarn_delete(tree, tarn_lookup(tree, key));
    } else if (!tarn_lookup(tree, key) && used < MAX_ITEMS) {
        encode(items[used].key, (uint32_t)value);
        tarn_insert(tree, &items[used++].link);
    }
}

static void edge_to(const tarn_node *from, const tarn_node *to, const char *side) {
    if (to) {
        printf("  n%u -> n%u;\n", key_of(from), key_of(to));
    } else {
        printf("  nil%u%s [style=invis, label=\"\"];\n", key_of(from), side);
        printf("  n%u -> nil%u%s [style=invis];\n", key_of(from), key_of(from), side);
    }
}

/* Pre-order: each node, then its edges left before right (ordering=out). */
static int32_t draw_node(tarn_head *head, tarn_node *node, void *context) {
    static const char *const fill[] = {"#e4e4e4", "#f6c28b", "#9cc3e6"}; /* EQ, RH, LH */
    (void)head;
    (void)context;
    printf("  n%u [label=\"%u\", fillcolor=\"%s\"];\n", key_of(node), key_of(node),
           fill[node->balance <= TARN_BAL_LH ? node->balance : 0]);
    if (node->left || node->right) {
        edge_to(node, node->left, "L");
        edge_to(node, node->right, "R");
    }
    return 1;
}

int main(int argc, char **argv) {
    static const long example[] = {50, 20, 80, 10, 30, 70,  90,  25, 35, 60,
                                   75, 5,  27, 95, 33, -80, -10, 40, 1};
    tarn_head tree = {0};
    tarn_init_new(&tree, offsetof(struct item, link), 4, offsetof(struct item, key), NULL, NULL);
    if (argc > 1)
        for (int i = 1; i < argc; i++) apply(&tree, strtol(argv[i], NULL, 10));
    else
        for (size_t i = 0; i < sizeof example / sizeof example[0]; i++) apply(&tree, example[i]);

    puts("digraph tarn {");
    puts("  graph [ordering=out, nodesep=0.25, ranksep=0.35, fontname=\"Helvetica\", "
         "fontsize=11, labelloc=b,");
    printf("         label=\"%llu nodes; grey: even, orange: right taller, blue: left "
           "taller\"];\n",
           (unsigned long long)tree.count);
    puts("  node [shape=circle, style=filled, fixedsize=true, width=0.42, fontname=\"Helvetica\", "
         "fontsize=12];");
    puts("  edge [arrowhead=none];");
    tarn_walk_tree_v2(&tree, TARN_WALK_PREORDER, NULL, draw_node);
    puts("}");
    return tarn_verify_balance_factors(&tree) ? 0 : 1;
}
