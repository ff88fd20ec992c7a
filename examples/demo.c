/* SPDX-License-Identifier: MIT */
/*
 * tarn demo: a session table of a small network service.
 *
 * Each session record is owned by the program (here, one static array) and
 * carries its tree node and its key, the remote endpoint, in the middle of
 * the record. The tree orders sessions by endpoint, byte-wise: address first,
 * then port, both stored big-endian so that byte order is numeric order.
 */
#include <inttypes.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tarn.h"

struct session {
    uint64_t bytes_in, bytes_out;
    uint32_t state;
    tarn_node by_endpoint; /* node_offset: not zero */
    uint8_t endpoint[8];   /* key: IPv4 address, port, 2 bytes of zero */
    char user[16];
};

#define SESSIONS 4000

static struct session table[SESSIONS];
static tarn_head sessions;

static uint64_t rng_state = 0x9E3779B97F4A7C15u;
static uint32_t next_random(void) {
    rng_state ^= rng_state << 13;
    rng_state ^= rng_state >> 7;
    rng_state ^= rng_state << 17;
    return (uint32_t)rng_state;
}

static void make_endpoint(uint8_t key[8], uint32_t addr, uint16_t port) {
    key[0] = (uint8_t)(addr >> 24);
    key[1] = (uint8_t)(addr >> 16);
    key[2] = (uint8_t)(addr >> 8);
    key[3] = (uint8_t)addr;
    key[4] = (uint8_t)(port >> 8);
    key[5] = (uint8_t)port;
    key[6] = key[7] = 0;
}

static const char *endpoint_text(const uint8_t key[8]) {
    static char buf[32];
    snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", key[0], key[1], key[2], key[3],
             (unsigned)(key[4] << 8 | key[5]));
    return buf;
}

static struct session *session_of(tarn_node *n) {
    return n ? (struct session *)((char *)n - offsetof(struct session, by_endpoint)) : NULL;
}

static void check_balance(const char *phase) {
    int ok = tarn_verify_balance_factors(&sessions);
    printf("  balance after %s: %s (%" PRIu64 " sessions)\n", phase, ok ? "ok" : "BROKEN",
           sessions.count);
    if (!ok) exit(1);
}

struct walk_state {
    uint8_t last[8];
    uint64_t visited, out_of_order;
};

static int32_t count_in_order(tarn_head *head, tarn_node *node, void *context) {
    struct walk_state *w = context;
    struct session *s = session_of(node);
    (void)head;
    if (w->visited && memcmp(w->last, s->endpoint, 8) >= 0) w->out_of_order++;
    memcpy(w->last, s->endpoint, 8);
    w->visited++;
    return 1;
}

/* Probe comparator: both sides are tarn_node addresses of sessions. */
static uint32_t compare_session_nodes(const void *tree_side, const void *probe) {
    int r = memcmp(session_of((tarn_node *)tree_side)->endpoint,
                   session_of((tarn_node *)probe)->endpoint, 8);
    return r < 0 ? TARN_CMP_LESS : r > 0 ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
}

int main(void) {
    tarn_init_new(&sessions, offsetof(struct session, by_endpoint), 8,
                  offsetof(struct session, endpoint), NULL, NULL);

    printf("1. Open %d sessions from random endpoints in 10.0.0.0/16\n", SESSIONS);
    int refused = 0;
    for (int i = 0; i < SESSIONS; i++) {
        struct session *s = &table[i];
        snprintf(s->user, sizeof s->user, "user%d", i);
        do { /* a clashing endpoint is refused: draw another one */
            make_endpoint(s->endpoint, 0x0A000000u | (next_random() & 0xFFFF),
                          (uint16_t)(1024 + next_random() % 8));
        } while (!tarn_insert(&sessions, &s->by_endpoint) && ++refused);
    }
    printf("  linked %" PRIu64 ", %d clashing endpoints redrawn\n", sessions.count, refused);
    check_balance("inserts");

    struct session twin = table[7];
    memset(&twin.by_endpoint, 0, sizeof twin.by_endpoint); /* a copy is not linked */
    printf("2. A second session for %s is refused: tarn_insert -> %d\n",
           endpoint_text(twin.endpoint), tarn_insert(&sessions, &twin.by_endpoint));

    uint8_t probe[8];
    memcpy(probe, table[42].endpoint, 8);
    struct session *found = tarn_lookup_user_data(&sessions, probe);
    printf("3. Lookup %s -> %s\n", endpoint_text(probe), found ? found->user : "none");
    make_endpoint(probe, 0x0A000100u, 0);
    tarn_node *floor = tarn_lookup_le(&sessions, probe), *ceil = tarn_lookup_ge(&sessions, probe);
    printf("   around %s:", endpoint_text(probe));
    printf(" floor %s,", floor ? endpoint_text(session_of(floor)->endpoint) : "none");
    printf(" ceiling %s\n", ceil ? endpoint_text(session_of(ceil)->endpoint) : "none");

    printf("4. Scan in order, yielding every 500 sessions; between yields the\n"
           "   service closes the first session it still has and opens one at the end\n");
    tarn_iterator it;
    tarn_init_iterator(&sessions, &it);
    uint64_t seen = 0;
    int opened = 0;
    static struct session late[16];
    for (tarn_node *n = tarn_get_first_node(&sessions, &it.current); n;
         n = tarn_get_next_node(&sessions, &it)) {
        if (++seen % 500 != 0) continue;
        tarn_pre_sched_yield(&sessions, &it); /* the cursor now holds a key, not a node */
        tarn_delete(&sessions, tarn_get_first_node(&sessions, NULL));
        if (opened < 16) {
            struct session *s = &late[opened++];
            make_endpoint(s->endpoint, 0x0AFF0000u | (uint32_t)opened, 80);
            tarn_insert(&sessions, &s->by_endpoint);
        }
        printf("   yield at %s after %" PRIu64 " sessions\n", endpoint_text(it.saved_key), seen);
    }
    printf("  scan visited %" PRIu64 " sessions (%d opened behind it were visited too)\n", seen,
           opened);
    check_balance("the scan");

    printf("5. Range scan of 10.0.7.0 .. 10.0.7.255:\n  ");
    uint8_t low[8], high[8];
    make_endpoint(low, 0x0A000700u, 0);
    make_endpoint(high, 0x0A0007FFu, 0xFFFF);
    tarn_init_iterator(&sessions, &it);
    int in_range = 0;
    for (tarn_node *n = tarn_get_first_node_in_range(&sessions, low, high, &it.current); n;
         n = tarn_get_next_node_in_range(&sessions, low, high, &it)) {
        if (in_range++ < 6) printf("%s ", endpoint_text(session_of(n)->endpoint));
    }
    printf("... %d sessions\n", in_range);

    printf("6. Close half of the sessions in random order\n");
    int order[SESSIONS];
    for (int i = 0; i < SESSIONS; i++) order[i] = i;
    for (int i = SESSIONS - 1; i > 0; i--) {
        int j = (int)(next_random() % (uint32_t)(i + 1)), t = order[i];
        order[i] = order[j];
        order[j] = t;
    }
    for (int i = 0; i < SESSIONS / 2; i++) tarn_delete(&sessions, &table[order[i]].by_endpoint);
    check_balance("removals");

    printf("7. Close one more session by probe: a stack record with its endpoint\n");
    struct session probe_rec;
    memcpy(probe_rec.endpoint, table[order[SESSIONS - 1]].endpoint, 8);
    tarn_node *closed = NULL;
    /* Probe calls hand the comparator node addresses, not key addresses. */
    sessions.compare = compare_session_nodes;
    tarn_delete_node(&sessions, &probe_rec.by_endpoint, &closed);
    sessions.compare = NULL;
    printf("  closed %s (%s)\n", endpoint_text(probe_rec.endpoint),
           closed ? session_of(closed)->user : "not found");
    check_balance("the probe deletion");

    struct walk_state w = {{0}, 0, 0};
    tarn_walk_tree(&sessions, &w, count_in_order);
    printf("8. In-order walk: %" PRIu64 " sessions, %" PRIu64 " out of order\n", w.visited,
           w.out_of_order);

    printf("9. A small tree of five sessions, printed in order:\n");
    tarn_head small;
    small.root = NULL;
    tarn_init_new(&small, offsetof(struct session, by_endpoint), 8,
                  offsetof(struct session, endpoint), NULL, NULL);
    static struct session five[5];
    for (int i = 0; i < 5; i++) {
        make_endpoint(five[i].endpoint, 0xC0A80001u + (uint32_t)i, 443);
        tarn_insert(&small, &five[i].by_endpoint);
    }
    tarn_print_tree(&small, TARN_WALK_INORDER, NULL);
    return w.out_of_order != 0;
}
