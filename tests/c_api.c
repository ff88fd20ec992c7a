/* Compiled as C11 with every warning an error: the header is valid C, and
 * the calls link and behave from C. */
#include <stddef.h>
#include <stdio.h>

#include "tarn.h"

struct item {
    int payload;
    tarn_node node;
    uint8_t key[2]; /* big-endian */
};

static int32_t count_visit(tarn_head *head, tarn_node *node, void *visits) {
    (void)head, (void)node;
    return ++*(int *)visits;
}

int main(void) {
    static struct item items[100];
    tarn_head head = {0};
    tarn_iterator it;
    uint8_t low[2] = {0, 15}, high[2] = {0, 18};
    int visits = 0, i, ok;
    tarn_init_new(&head, offsetof(struct item, node), 2, offsetof(struct item, key), NULL, NULL);
    for (i = 0; i < 100; i++) {
        items[i].payload = i, items[i].key[1] = (uint8_t)(2 * i);
        tarn_insert(&head, &items[i].node);
    }
    tarn_init_iterator(&head, &it);
    ok = tarn_get_first_node_in_range(&head, low, high, &it.current) == &items[8].node;
    tarn_pre_sched_yield(&head, &it);
    ok = ok && ((struct item *)tarn_get_next_user_data(&head, &it))->payload == 9 &&
         tarn_get_next_node_in_range(&head, low, high, &it) == NULL &&
         ((struct item *)tarn_lookup_user_data(&head, high))->payload == 9 &&
         tarn_walk_tree(&head, &visits, count_visit) == 1 && visits == 100;
    for (i = 0; i < 100; i += 2) tarn_delete(&head, &items[i].node);
    ok = ok && head.count == 50 && tarn_verify_balance_factors(&head) == 1;
    printf("c_api: %s\n", ok ? "the calls behaved" : "FAILED");
    return !ok;
}
