// How every search steers on the codes a comparator answers, in and out of
// contract: rows of (call, bounds, codes, expected node) on the seven-key
// tree. Answers under the contract are the differential harness's job.
#include "support.hpp"

using namespace tarn_test;

namespace {

// clang-format off
enum Call { Lookup, Exact, ExactBytes, Le, Ge, NextKey, PrevKey, InRange, InRange2, NextInRange,
            NextFrom20, Insert, Search, Delete, NextFromNode, PrevFromNode }; // Search on: probes
// clang-format on

// The call on key (or probe) a, with b as the upper bound. Insert links
// record a and answers its predecessor, or the record itself when it is
// first; Search and Delete answer *out when they stop, record 0 for NULL.
tarn_node *run(Call call, Sevens &s, uint8_t a, uint8_t b) {
    const tarn_head *h = &s.head;
    Rec probe{{}, a};
    tarn_node *n = s.node(a), *out = nullptr;
    tarn_iterator at_n{n, {}};
    switch (call) {
    case Lookup: return tarn_lookup(h, &a);
    case ExactBytes: s.head.compare_exact = nullptr; [[fallthrough]];
    case Exact: return tarn_lookup_exact(h, &a, 9);
    case Le: return tarn_lookup_le(h, &a);
    case Ge: return tarn_lookup_ge(h, &a);
    case NextKey: return tarn_get_next_node_from_key(h, &a);
    case PrevKey: return tarn_get_previous_node_from_key(h, &a);
    case InRange: return tarn_get_first_node_in_range(h, &a, &b, nullptr);
    case InRange2: return tarn_get_first_node_in_range2(h, &a, &b, nullptr);
    case NextFrom20: s.it.current = s.node(20); [[fallthrough]];
    case NextInRange: return tarn_get_next_node_in_range(h, &a, &b, &s.it);
    case Insert:
        if (!tarn_insert(&s.head, n)) return nullptr;
        out = tarn_get_previous_node(h, &at_n);
        return out ? out : n;
    case Search:
    case Delete:
        if (!(call == Search ? tarn_search_for_node(h, &probe.node, &out)
                             : tarn_delete_node(&s.head, &probe.node, &out)))
            return nullptr;
        return out ? out : s.node(0);
    case NextFromNode: return tarn_get_next_from_node(h, &probe.node);
    case PrevFromNode: return tarn_get_prev_from_node(h, &probe.node);
    }
    return nullptr;
}

tarn_compare_fn comparator_for(Call call) { return call >= Search ? by_node : by_key; }

// One code at every node: the answer for 0, 1, 2, 3 and 0xFFFFFFFF.
const struct {
    Call call;
    int expected[5]; // -1: NULL
} kEveryNode[] = {
    {Lookup, {40, -1, -1, -1, -1}},       {Exact, {40, -1, -1, -1, -1}},
    {Le, {40, -1, 70, -1, -1}},           {Ge, {40, 10, -1, 10, 10}},
    {NextKey, {50, 10, -1, -1, -1}},      {PrevKey, {30, -1, 70, 60, 60}},
    {InRange, {40, -1, -1, 10, 10}},      {InRange2, {40, -1, -1, -1, -1}},
    {NextInRange, {50, -1, -1, -1, -1}},  {NextFrom20, {30, -1, -1, -1, -1}},
    {Insert, {-1, 25, 70, 70, 70}},       {Search, {40, -1, -1, 0, 0}},
    {Delete, {40, -1, -1, 0, 0}},         {NextFromNode, {50, 10, -1, -1, -1}},
    {PrevFromNode, {30, -1, 70, -1, -1}},
};

TEST(Steering, OneCodeAtEveryNode) {
    const uint32_t codes[] = {0, 1, 2, 3, 0xFFFFFFFF};
    for (const auto &row : kEveryNode)
        for (int c = 0; c < 5; c++) {
            Sevens s(comparator_for(row.call));
            g_script.every = codes[c];
            EXPECT_EQ(Sevens::key(run(row.call, s, 25, 45)), row.expected[c])
                << "call " << row.call << ", code " << codes[c];
        }
}

// Codes at chosen nodes (the real order elsewhere; probe 25 passes 40, 20,
// 30), or the codes of successive calls: a search that ends without a hit
// asks the end node again, and that answer decides.
struct PathRow {
    const char *what;
    Call call;
    uint8_t a, b;
    std::map<uint8_t, uint32_t> at;
    std::vector<uint32_t> sequence;
    int expected;
    int64_t every = -1;
};
const PathRow kPaths[] = {
    {"ceiling stops at EQUAL", Ge, 25, 0, {{20, 0}}, {}, 20},
    {"ceiling keeps a node with an unknown code", Ge, 25, 0, {{30, 7}}, {}, 30},
    {"floor goes left past an unknown code", Le, 25, 0, {{30, 7}}, {}, 20},
    {"next from key: unknown code at the end", NextKey, 25, 0, {{30, 7}}, {}, 40},
    {"range: the upper check drops only on GREATER", InRange, 25, 35, {{30, 9}}, {}, 30},
    {"next from key: EQUAL at the end", NextKey, 25, 0, {}, {1, 1, 1, 0}, 10},
    {"previous from key: EQUAL at the end", PrevKey, 25, 0, {}, {1, 1, 1, 0}, 10},
    {"previous from key: GREATER at the end", PrevKey, 25, 0, {}, {1, 1, 1, 1}, -1},
    {"range2: EQUAL at the end", InRange2, 35, 45, {}, {1, 1, 1, 0}, -1},
    {"range2: successor not above low", InRange2, 35, 45, {}, {1, 2, 2, 2, 0}, -1},
    {"range2: successor within high", InRange2, 35, 45, {}, {1, 2, 2, 2, 1, 2}, 40},
    {"range2: unknown code against high", InRange2, 35, 45, {}, {1, 2, 2, 2, 1, 7}, -1},
    {"range2: EQUAL against high", InRange2, 35, 45, {}, {1, 1, 1, 1, 0}, 10},
    {"next in range: EQUAL at the end", NextInRange, 35, 45, {}, {1, 1, 1, 0}, -1},
    {"next in range: EQUAL against low", NextInRange, 35, 45, {}, {1, 1, 1, 1, 0, 0}, 10},
    {"next in range: unknown code against low", NextInRange, 35, 45, {}, {1, 1, 1, 1, 7}, -1},
    {"next from probe: unknown code below a turn", NextFromNode, 25, 0, {{30, 3}}, {}, 40},
    {"previous from probe: unknown code below a turn", PrevFromNode, 25, 0, {{30, 3}}, {}, 20},
    {"next from probe: unknown code at the root", NextFromNode, 25, 0, {{40, 9}}, {}, -1},
    {"previous from probe: unknown code at the root", PrevFromNode, 25, 0, {{40, 9}}, {}, -1},
    {"exact lookup without its comparator compares bytes", ExactBytes, 30, 0, {}, {}, 30, 5},
};

TEST(Steering, ChosenCodesOnTheWay) {
    for (const PathRow &row : kPaths) {
        Sevens s(comparator_for(row.call));
        g_script.at = row.at;
        g_script.sequence = row.sequence;
        g_script.every = row.every;
        EXPECT_EQ(Sevens::key(run(row.call, s, row.a, row.b)), row.expected) << row.what;
    }
}

} // namespace
