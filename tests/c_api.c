/* Compiled as C11 with every warning an error: the header is valid C, and
 * every exported call links and behaves from C. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "tarn.h"

struct item {
    int payload;
    tarn_node node;
    uint8_t key[4];
};

static uint32_t by_node(const void *tree_side, const void *probe) {
    const struct item *a = (const struct item *)((const char *)tree_side - offsetof(struct item, node));
    const struct item *b = (const struct item *)((const char *)probe - offsetof(struct item, node));
    int r = memcmp(a->key, b->key, 4);
    return r < 0 ? TARN_CMP_LESS : r > 0 ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
}

static uint32_t by_key_exact(const void *tree_side, const void *probe, uint32_t extra) {
    (void)extra;
    int r = memcmp(tree_side, probe, 4);
    return r < 0 ? TARN_CMP_LESS : r > 0 ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
}

static int32_t count_visit(tarn_head *head, tarn_node *node, void *context) {
    (void)head;
    (void)node;
    ++*(int *)context;
    return 1;
}

static int failures;
#define CHECK(cond)                                                  \
    do {                                                             \
        if (!(cond)) {                                               \
            printf("c_api: check failed at line %d: %s\n", __LINE__, #cond); \
            failures++;                                              \
        }                                                            \
    } while (0)

static void key_of(uint8_t key[4], int v) {
    key[0] = 0, key[1] = 0, key[2] = (uint8_t)(v >> 8), key[3] = (uint8_t)v;
}

int main(void) {
    static struct item items[100];
    tarn_head head;
    tarn_head replica;
    tarn_iterator it;
    tarn_node *out = NULL;
    uint8_t k[4], lo[4], hi[4];
    int visits = 0, i;

    head.root = NULL;
    CHECK(tarn_init(&head, 4, 0, NULL, NULL) == 1);
    CHECK(tarn_init_new(&head, offsetof(struct item, node), 4, offsetof(struct item, key), NULL,
                        by_key_exact) == 1);
    CHECK(tarn_is_empty(&head) == 1);
    for (i = 0; i < 100; i++) {
        items[i].payload = i;
        key_of(items[i].key, 2 * i);
        CHECK(tarn_insert(&head, &items[i].node) == 1);
    }
    CHECK(head.count == 100);
    tarn_replicate_head_node(&head, &replica, NULL);
    CHECK(tarn_is_empty(&replica) == 0);

    key_of(k, 20);
    CHECK(tarn_lookup(&head, k) == &items[10].node);
    CHECK(tarn_lookup_exact(&head, k, 7) == &items[10].node);
    CHECK(((struct item *)tarn_lookup_user_data(&replica, k))->payload == 10);
    key_of(k, 21);
    CHECK(tarn_lookup_le(&head, k) == &items[10].node);
    CHECK(tarn_lookup_ge(&head, k) == &items[11].node);
    CHECK(tarn_get_first_node(&head, &out) == &items[0].node && out == &items[0].node);
    CHECK(((struct item *)tarn_get_first_user_data(&head, NULL))->payload == 0);
    CHECK(tarn_get_next_node_from_key(&head, k) == &items[11].node);
    CHECK(tarn_get_previous_node_from_key(&head, k) == &items[10].node);

    CHECK(tarn_init_iterator(&head, &it) == 1);
    tarn_get_first_node(&head, &it.current);
    CHECK(tarn_get_next_node(&head, &it) == &items[1].node);
    tarn_pre_sched_yield(&head, &it);
    CHECK(it.current == NULL);
    CHECK(((struct item *)tarn_get_next_user_data(&head, &it))->payload == 2);
    CHECK(tarn_get_previous_node(&head, &it) == &items[1].node);

    key_of(lo, 15);
    key_of(hi, 19);
    CHECK(tarn_get_first_node_in_range(&head, lo, hi, &it.current) == &items[8].node);
    CHECK(tarn_get_next_node_in_range(&head, lo, hi, &it) == &items[9].node);
    CHECK(tarn_get_next_node_in_range(&head, lo, hi, &it) == NULL);
    key_of(lo, 16);
    CHECK(tarn_get_first_node_in_range2(&head, lo, lo, NULL) == &items[8].node);

    CHECK(tarn_walk_tree(&head, &visits, count_visit) == 1 && visits == 100);
    tarn_walk_tree_v2(&head, TARN_WALK_POSTORDER, &visits, count_visit);
    CHECK(visits == 200);
    CHECK(tarn_verify_balance_factors(&head) == 1);

    {
        struct item probe;
        key_of(probe.key, 31);
        head.compare = by_node;
        CHECK(tarn_get_next_from_node(&head, &probe.node) == &items[16].node);
        CHECK(tarn_get_prev_from_node(&head, &probe.node) == &items[15].node);
        key_of(probe.key, 30);
        CHECK(tarn_search_for_node(&head, &probe.node, &out) == 1 && out == &items[15].node);
        CHECK(tarn_delete_node(&head, &probe.node, &out) == 1 && out == &items[15].node);
        head.compare = NULL;
    }
    tarn_delete(&head, &items[0].node);
    CHECK(head.count == 98);
    CHECK(tarn_verify_balance_factors(&head) == 1);

    for (i = 0; i < 100; i++) tarn_delete(&head, &items[i].node);
    CHECK(tarn_is_empty(&head) == 1);
    items[0].node.balance = 0;
    tarn_insert(&head, &items[0].node);
    tarn_print_tree(&head, TARN_WALK_INORDER, NULL);

    printf("c_api: %s\n", failures ? "FAILED" : "every call behaved");
    return failures != 0;
}
