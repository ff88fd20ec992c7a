/* Links three records through the C interface of an installed tarn. */
#include <stddef.h>
#include <stdio.h>

#include <tarn.h>

struct item {
    int value;
    tarn_node link;
    uint8_t key;
};

int main(void) {
    struct item items[3] = {{30, {0}, 3}, {10, {0}, 1}, {20, {0}, 2}};
    tarn_head head = {0};
    tarn_init_new(&head, offsetof(struct item, link), 1, offsetof(struct item, key), NULL, NULL);
    for (int i = 0; i < 3; i++) tarn_insert(&head, &items[i].link);
    uint8_t two = 2;
    struct item *found = tarn_lookup_user_data(&head, &two);
    struct item *smallest = tarn_get_first_user_data(&head, NULL);
    int ok = head.count == 3 && found && found->value == 20 && smallest && smallest->value == 10 &&
             tarn_verify_balance_factors(&head);
    puts(ok ? "c consumer: ok" : "c consumer: FAILED");
    return ok ? 0 : 1;
}
