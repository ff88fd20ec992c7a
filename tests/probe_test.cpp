// Probe searches: the finding calls' results and out-parameter, and code
// steering of all four calls.
#include <functional>

#include "support.hpp"

using namespace tarn_test;

namespace {

// Keys 10 .. 70 in a perfect tree, compared node to node.
struct Probed : Sevens {
    Rec probe{};
    Probed() { t.head.compare = scripted_nodes; }
    const void *probe_for(uint8_t key) {
        probe.key[0] = key;
        return &probe.node;
    }
};

tarn_node *const kUntouched = reinterpret_cast<tarn_node *>(uintptr_t(0x5EED));

// One row per case of the finding calls: what each returns and leaves in
// *out, and whether the tree lost a node.
struct FindRow {
    const char *what;
    std::function<void(Probed &)> arrange;
    bool null_head, null_probe, null_out;
    int32_t search_result;
    int search_out; // -2: *out untouched, -1: NULL, else the value
    int32_t delete_result;
    int delete_out;
    bool unlinked;
};

const FindRow kFinding[] = {
    {"NULL out", nullptr, false, false, true, 0, -2, 1, -2, true},
    {"empty tree", [](Probed &p) { p.t.head.root = nullptr; }, false, false, false, 0, -1, 0, -1,
     false},
    {"no comparator", [](Probed &p) { p.t.head.compare = nullptr; }, false, false, false, 0, -1, 0,
     -1, false},
    {"runs off the tree", [](Probed &p) { p.probe_for(35); }, false, false, false, 0, -1, 0, -1,
     false},
    {"equal node", nullptr, false, false, false, 1, 30, 1, 30, true},
    {"unknown code stops", [](Probed &) { g_every_code = 3; }, false, false, false, 1, -1, 1, -1,
     false},
};

TEST(Finding, ResultsAndOutParameter) {
    for (const FindRow &row : kFinding) {
        for (bool deleting : {false, true}) {
            Probed p;
            p.probe_for(30);
            if (row.arrange) row.arrange(p);
            tarn_node *out = kUntouched;
            tarn_head *head = row.null_head ? nullptr : &p.t.head;
            const void *probe = row.null_probe ? nullptr : &p.probe.node;
            tarn_node **outp = row.null_out ? nullptr : &out;
            uint64_t count = p.t.head.count;
            size_t calls_before = g_calls;
            int32_t r = deleting ? tarn_delete_node(head, probe, outp)
                                 : tarn_search_for_node(head, probe, outp);
            int expected_out = deleting ? row.delete_out : row.search_out;
            SCOPED_TRACE(std::string(row.what) + (deleting ? ", delete" : ", search"));
            EXPECT_EQ(r, deleting ? row.delete_result : row.search_result);
            if (expected_out == -2) {
                EXPECT_EQ(out, kUntouched);
            } else {
                EXPECT_EQ(p.value(out), expected_out);
            }
            bool unlinked = deleting && row.unlinked;
            EXPECT_EQ(p.t.head.count, unlinked ? count - 1 : count);
            if (unlinked) {
                EXPECT_EQ(p.node(30)->in_tree, 0u);
            }
            if (row.null_out && !deleting) {
                EXPECT_EQ(g_calls, calls_before);
            }
            p.t.head.compare = nullptr; // the checker compares bytes
            if (p.t.head.root) {
                EXPECT_TRUE(tree_is_sound(p.t.head, &p.t.pool));
            }
        }
    }
}

TEST(Finding, DeletesTheLinkedTwinNotTheProbe) {
    Probed p;
    Rec &probe = p.probe;
    probe.key[0] = 50;
    probe.node = tarn_node{TARN_BAL_LH, 0, nullptr, nullptr, nullptr};
    tarn_node *out = nullptr;
    EXPECT_EQ(tarn_delete_node(&p.t.head, &probe.node, &out), 1);
    EXPECT_EQ(out, p.node(50));
    EXPECT_EQ(out->in_tree, 0u);
    EXPECT_EQ(out->parent, nullptr);
    EXPECT_EQ(probe.node.balance, uint32_t(TARN_BAL_LH)) << "the probe is never written";
    EXPECT_EQ(p.t.head.count, 6u);
}

TEST(Stepping, CodeSteering) {
    struct Row {
        const char *what;
        uint32_t every;                  // kRealOrder: the real order
        std::map<uint32_t, uint32_t> at; // codes at chosen nodes
        uint8_t probe;
        int next, prev;
    } rows[] = {
        {"EQUAL everywhere: neighbours of the root", 0, {}, 0, 50, 30},
        {"GREATER everywhere", 1, {}, 0, 10, -1},
        {"LESS everywhere", 2, {}, 0, -1, 70},
        {"unknown everywhere", 3, {}, 0, -1, -1},
        {"all ones", 0xFFFFFFFF, {}, 0, -1, -1},
        // 25: next turns left at 40, goes right at 20, then meets 30.
        {"unknown code below a left turn", kRealOrder, {{30, 3}}, 25, 40, 20},
        {"unknown code at the root", kRealOrder, {{40, 9}}, 25, -1, -1},
    };
    for (const Row &r : rows) {
        Probed p;
        g_every_code = r.every;
        g_code_at = r.at;
        EXPECT_EQ(p.value(tarn_get_next_from_node(&p.t.head, p.probe_for(r.probe))), r.next)
            << r.what;
        EXPECT_EQ(p.value(tarn_get_prev_from_node(&p.t.head, p.probe_for(r.probe))), r.prev)
            << r.what;
    }
}

TEST(Stepping, ReplicaStartsFromItsOwnRootSnapshot) {
    Probed p;
    tarn_head replica;
    tarn_replicate_head_node(&p.t.head, &replica, scripted_nodes);
    p.t.head.compare = nullptr;
    p.t.remove(40); // the primary's root changes; the replica keeps the old one
    p.t.head.compare = scripted_nodes;
    EXPECT_NE(p.t.head.root, replica.root);
    EXPECT_EQ(replica.root, p.node(40));
    tarn_node *out = nullptr;
    EXPECT_EQ(tarn_search_for_node(&replica, p.probe_for(40), &out), 1);
    EXPECT_EQ(out, p.node(40));
    EXPECT_EQ(tarn_search_for_node(&p.t.head, p.probe_for(40), &out), 0);
}

} // namespace
