// Lookups, cursors and range scans: how each call steers on every code
// (the differential harness checks the answers under the contract), the
// documented examples, and yields across changes.
#include <functional>

#include "support.hpp"

using namespace tarn_test;

namespace {

const uint8_t k25 = 25, k35 = 35, k45 = 45;

// What each call answers when the comparator gives one code at every node.
struct SteerRow {
    const char *call;
    std::function<tarn_node *(Sevens &)> run;
    int expected[5]; // for codes 0, 1, 2, 3, 0xFFFFFFFF; -1 is NULL
};

const SteerRow kSteering[] = {
    {"lookup", [](Sevens &s) { return tarn_lookup(&s.t.head, &k25); }, {40, -1, -1, -1, -1}},
    {"lookup_exact",
     [](Sevens &s) { return tarn_lookup_exact(&s.t.head, &k25, 9); },
     {40, -1, -1, -1, -1}},
    {"lookup_le", [](Sevens &s) { return tarn_lookup_le(&s.t.head, &k25); }, {40, -1, 70, -1, -1}},
    {"lookup_ge", [](Sevens &s) { return tarn_lookup_ge(&s.t.head, &k25); }, {40, 10, -1, 10, 10}},
    {"next_from_key",
     [](Sevens &s) { return tarn_get_next_node_from_key(&s.t.head, &k25); },
     {50, 10, -1, -1, -1}},
    {"previous_from_key",
     [](Sevens &s) { return tarn_get_previous_node_from_key(&s.t.head, &k25); },
     {30, -1, 70, 60, 60}},
    {"first_in_range",
     [](Sevens &s) { return tarn_get_first_node_in_range(&s.t.head, &k25, &k45, nullptr); },
     {40, -1, -1, 10, 10}},
    {"first_in_range2",
     [](Sevens &s) { return tarn_get_first_node_in_range2(&s.t.head, &k25, &k45, nullptr); },
     {40, -1, -1, -1, -1}},
    {"next_in_range, detached",
     [](Sevens &s) { return tarn_get_next_node_in_range(&s.t.head, &k25, &k45, &s.it); },
     {50, -1, -1, -1, -1}},
    {"next_in_range, holding 20",
     [](Sevens &s) {
         s.it.current = s.node(20);
         return tarn_get_next_node_in_range(&s.t.head, &k25, &k45, &s.it);
     },
     {30, -1, -1, -1, -1}},
};

TEST(Steering, EveryCallOnEveryCode) {
    const uint32_t codes[] = {0, 1, 2, 3, 0xFFFFFFFF};
    for (const SteerRow &row : kSteering)
        for (int c = 0; c < 5; c++) {
            Sevens s;
            s.script();
            g_every_code = codes[c];
            EXPECT_EQ(s.value(row.run(s)), row.expected[c]) << row.call << " on code " << codes[c];
        }
}

// Codes at single nodes (real order elsewhere; the probe 25 walks 40, 20,
// 30), or the codes of successive calls.
struct PathRow {
    const char *call;
    std::map<uint32_t, uint32_t> codes;
    std::vector<uint32_t> sequence;
    std::function<tarn_node *(Sevens &)> run;
    int expected;
};

tarn_node *next_from_25(Sevens &s) { return tarn_get_next_node_from_key(&s.t.head, &k25); }
tarn_node *previous_from_25(Sevens &s) { return tarn_get_previous_node_from_key(&s.t.head, &k25); }
tarn_node *range2_35_45(Sevens &s) {
    return tarn_get_first_node_in_range2(&s.t.head, &k35, &k45, nullptr);
}
tarn_node *next_in_range_35_45(Sevens &s) {
    return tarn_get_next_node_in_range(&s.t.head, &k35, &k45, &s.it);
}

const PathRow kPaths[] = {
    {"ceiling stops at an equal code",
     {{20, 0}},
     {},
     [](Sevens &s) { return tarn_lookup_ge(&s.t.head, &k25); },
     20},
    {"ceiling records a node with an unknown code",
     {{30, 7}},
     {},
     [](Sevens &s) { return tarn_lookup_ge(&s.t.head, &k25); },
     30},
    {"floor goes left past an unknown code",
     {{30, 7}},
     {},
     [](Sevens &s) { return tarn_lookup_le(&s.t.head, &k25); },
     20},
    {"next from key: unknown end code takes the successor", {{30, 7}}, {}, next_from_25, 40},
    {"range: the upper check drops only on GREATER",
     {{30, 9}},
     {},
     [](Sevens &s) { return tarn_get_first_node_in_range(&s.t.head, &k25, &k35, nullptr); },
     30},
    // The end node is asked again; its second answer decides.
    {"next from key: EQUAL at the end node returns it", {}, {1, 1, 1, 0}, next_from_25, 10},
    {"previous from key: EQUAL at the end node returns it", {}, {1, 1, 1, 0}, previous_from_25, 10},
    {"previous from key: GREATER at the end steps back", {}, {1, 1, 1, 1}, previous_from_25, -1},
    {"range2: EQUAL at the end node gives NULL", {}, {1, 1, 1, 0}, range2_35_45, -1},
    {"range2: successor must compare GREATER than low", {}, {1, 2, 2, 2, 0}, range2_35_45, -1},
    {"range2: successor within high", {}, {1, 2, 2, 2, 1, 2}, range2_35_45, 40},
    {"range2: unknown code in the upper check", {}, {1, 2, 2, 2, 1, 7}, range2_35_45, -1},
    {"range2: EQUAL in the upper check keeps", {}, {1, 1, 1, 1, 0}, range2_35_45, 10},
    {"next in range: EQUAL at the end node gives NULL", {}, {1, 1, 1, 0}, next_in_range_35_45, -1},
    {"next in range: lower check passes EQUAL", {}, {1, 1, 1, 1, 0, 0}, next_in_range_35_45, 10},
    {"next in range: unknown code fails the lower check",
     {},
     {1, 1, 1, 1, 7},
     next_in_range_35_45,
     -1},
};

TEST(Steering, ChosenCodesAtChosenNodes) {
    for (const PathRow &row : kPaths) {
        Sevens s;
        s.script();
        g_code_at = row.codes;
        g_sequence = row.sequence;
        EXPECT_EQ(s.value(row.run(s)), row.expected) << row.call;
    }
}

TEST(Lookup, ExactUsesItsOwnComparatorOrBytes) {
    Sevens s;
    s.t.head.compare_exact = scripted_exact;
    uint8_t k = 30;
    EXPECT_EQ(s.value(tarn_lookup_exact(&s.t.head, &k, 77)), 30);
    EXPECT_EQ(g_last_extra, 77u);
    // With only compare set, the exact lookup compares bytes and ignores it.
    s.t.head.compare_exact = nullptr;
    s.t.head.compare = [](const void *, const void *) -> uint32_t { return 5; };
    EXPECT_EQ(s.value(tarn_lookup_exact(&s.t.head, &k, 1)), 30);
    EXPECT_EQ(tarn_lookup(&s.t.head, &k), nullptr);
}

TEST(Lookup, NothingToSearchGivesNullAndKeepsOut) {
    Sevens s;
    ModelTree empty(Mode::Bytes1, 1);
    tarn_head orphan = s.t.head;
    orphan.flags |= TARN_HEAD_REPLICA;
    uint8_t k = 10;
    tarn_node *const marker = s.node(70);
    for (const tarn_head *h : {&empty.head, &orphan}) {
        tarn_node *out = marker;
        EXPECT_EQ(tarn_lookup(h, &k), nullptr);
        EXPECT_EQ(tarn_lookup_exact(h, &k, 0), nullptr);
        EXPECT_EQ(tarn_lookup_le(h, &k), nullptr);
        EXPECT_EQ(tarn_lookup_ge(h, &k), nullptr);
        EXPECT_EQ(tarn_lookup_user_data(h, &k), nullptr);
        EXPECT_EQ(tarn_get_first_node(h, &out), nullptr);
        EXPECT_EQ(tarn_get_first_user_data(h, &out), nullptr);
        EXPECT_EQ(out, marker);
        EXPECT_EQ(tarn_get_next_node_from_key(h, &k), nullptr);
        EXPECT_EQ(tarn_get_previous_node_from_key(h, &k), nullptr);
        EXPECT_EQ(tarn_get_first_node_in_range(h, &k, &k, &out), nullptr);
        EXPECT_EQ(out, nullptr);
    }
}

TEST(Lookup, ReplicaSearchesTheLivePrimaryWithItsOwnConfiguration) {
    Sevens s;
    tarn_head replica;
    tarn_replicate_head_node(&s.t.head, &replica, scripted_keys);
    s.t.insert(35);
    g_code_at[35] = TARN_CMP_EQUAL; // the replica's comparator is the one used
    uint8_t k = 36;
    EXPECT_EQ(s.value(tarn_lookup(&replica, &k)), 35);
    EXPECT_EQ(tarn_lookup(&s.t.head, &k), nullptr);
    g_code_at.clear();
    replica.key_offset = s.t.head.key_offset - 1; // reads the byte before each key
    EXPECT_EQ(tarn_lookup(&replica, &k35), nullptr);
}

// ---- Cursors --------------------------------------------------------------

struct Tens : Sevens { // keys 10, 20, 30
    Tens() {
        for (uint32_t v = 40; v <= 70; v += 10) t.remove(v);
        tarn_init_iterator(&t.head, &it);
    }
    void saved(uint8_t key) { it.saved_key[0] = key; }
    std::vector<int> rest(tarn_node *(*step)(const tarn_head *, tarn_iterator *)) {
        std::vector<int> out;
        while (tarn_node *n = step(&t.head, &it)) out.push_back(value(n));
        return out;
    }
};

TEST(Cursor, YieldThenChange) {
    struct Row {
        const char *what;
        std::function<void(Tens &)> change;
        std::vector<int> after;
    } rows[] = {
        {"nothing", [](Tens &) {}, {30}},
        {"remove 20, insert 25", [](Tens &s) { s.t.remove(20), s.t.insert(25); }, {25, 30}},
        {"insert 15 behind", [](Tens &s) { s.t.insert(15); }, {30}},
        {"remove everything after", [](Tens &s) { s.t.remove(30); }, {}},
    };
    for (const Row &r : rows) {
        Tens s;
        s.it.current = s.node(20);
        tarn_pre_sched_yield(&s.t.head, &s.it);
        EXPECT_EQ(s.it.current, nullptr);
        EXPECT_EQ(s.it.saved_key[0], 20);
        tarn_pre_sched_yield(&s.t.head, &s.it); // detached: no effect
        EXPECT_EQ(s.it.saved_key[0], 20);
        r.change(s);
        EXPECT_EQ(s.rest(tarn_get_next_node), r.after) << r.what;
    }
}

TEST(Cursor, EndIsNotRemembered) {
    Tens s;
    s.it.current = s.node(20);
    tarn_pre_sched_yield(&s.t.head, &s.it);
    EXPECT_EQ(s.rest(tarn_get_next_node), (std::vector<int>{30}));
    EXPECT_EQ(s.value(tarn_get_next_node(&s.t.head, &s.it)), 30) << "searches from 20 again";
    s.it.current = nullptr;
    s.saved(30);
    EXPECT_EQ(tarn_get_next_node(&s.t.head, &s.it), nullptr);
    EXPECT_EQ(s.it.current, nullptr);
    s.t.insert(40);
    EXPECT_EQ(s.value(tarn_get_next_node(&s.t.head, &s.it)), 40);
}

TEST(Cursor, HoldingANodeRemovedWithoutYieldEndsTheScan) {
#ifdef TARN_CHECKED
    GTEST_SKIP() << "the checked library aborts on this step";
#endif
    Tens s;
    s.it.current = s.node(20);
    s.t.remove(20);
    EXPECT_EQ(tarn_get_next_node(&s.t.head, &s.it), nullptr);
    EXPECT_EQ(s.it.current, nullptr);
}

// ---- Ranges -----------------------------------------------------------------

TEST(Range, FirstNodeOfBounds) {
    const struct {
        uint8_t low, high;
        int first, first2;
    } rows[] = {{15, 30, 20, 20}, {20, 30, 20, 20}, {5, 10, 10, 10},  {25, 30, 30, 30},
                {15, 18, -1, -1}, {35, 40, -1, -1}, {20, 15, -1, 20}, {18, 15, -1, -1}};
    for (const auto &r : rows) {
        Tens s;
        tarn_node *out = s.node(30);
        EXPECT_EQ(s.value(tarn_get_first_node_in_range(&s.t.head, &r.low, &r.high, &out)), r.first)
            << int(r.low) << ".." << int(r.high);
        EXPECT_EQ(s.value(out), r.first);
        EXPECT_EQ(s.value(tarn_get_first_node_in_range2(&s.t.head, &r.low, &r.high, &out)),
                  r.first2)
            << int(r.low) << ".." << int(r.high);
        EXPECT_EQ(s.value(out), r.first2);
    }
}

TEST(Range, Scans) {
    struct Row {
        uint8_t low, high;
        std::function<void(Tens &)> at_yield; // yield after the first node if set
        std::vector<int> nodes;
    } rows[] = {
        {15, 30, nullptr, {20, 30}},
        {10, 20, nullptr, {10, 20}},
        {10, 30, [](Tens &s) { s.t.remove(20); }, {10, 30}},
        {10,
         30,
         [](Tens &s) {
             s.t.insert(15);
             s.t.insert(25);
         },
         {10, 15, 20, 25, 30}},
        {35, 40, nullptr, {}},
    };
    for (const Row &r : rows) {
        Tens s;
        std::vector<int> seen;
        for (tarn_node *n = tarn_get_first_node_in_range(&s.t.head, &r.low, &r.high, &s.it.current);
             n; n = tarn_get_next_node_in_range(&s.t.head, &r.low, &r.high, &s.it)) {
            seen.push_back(s.value(n));
            if (r.at_yield && seen.size() == 1) {
                tarn_pre_sched_yield(&s.t.head, &s.it);
                r.at_yield(s);
            }
        }
        EXPECT_EQ(seen, r.nodes) << int(r.low) << ".." << int(r.high);
        EXPECT_EQ(s.it.current, nullptr);
    }
}

TEST(Range, CursorOutsideTheBounds) {
    Tens s;
    const uint8_t low = 25, high = 30, ten = 10;
    s.it.current = s.node(10); // the successor 20 lies below the range
    EXPECT_EQ(tarn_get_next_node_in_range(&s.t.head, &low, &high, &s.it), nullptr);
    EXPECT_EQ(s.it.current, nullptr);
    s.saved(30); // yielded at the last node
    EXPECT_EQ(tarn_get_next_node_in_range(&s.t.head, &ten, &high, &s.it), nullptr);
    s.it.current = s.node(10); // NULL head: detach and give NULL
    EXPECT_EQ(tarn_get_next_node_in_range(nullptr, &ten, &high, &s.it), nullptr);
    EXPECT_EQ(s.it.current, nullptr);
    EXPECT_EQ(tarn_get_next_node_in_range(&s.t.head, &ten, &high, nullptr), nullptr);
}

} // namespace
