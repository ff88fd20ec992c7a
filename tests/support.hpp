// Test support: a record type with the node and key away from offset 0,
// descriptor set-up for each comparison mode, a whole-tree invariant
// checker, and a sorted model to compare answers against.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "tarn.h"

namespace tarn_test {

// A record as callers lay them out: payload, then the node, then the key.
struct Rec {
    uint64_t payload;
    tarn_node node;
    uint8_t key[20];
};
constexpr uint64_t kNodeOffset = offsetof(Rec, node);
constexpr uint64_t kKeyOffset = offsetof(Rec, key);

inline Rec *rec_of(tarn_node *n) {
    return n ? reinterpret_cast<Rec *>(reinterpret_cast<char *>(n) - kNodeOffset) : nullptr;
}

// How a tree orders its keys: byte-wise 1-byte keys, or a comparator over
// 4-byte keys.
enum class Mode { Bytes1, Callback };
size_t key_length_of(Mode m);

// The comparator of Mode::Callback: orders 4-byte keys as little-endian
// integers, an order byte-wise comparison would get wrong.
uint32_t compare_le32(const void *tree_side, const void *probe);

// Writes value as mode's key (one byte, or little-endian for Callback).
void encode_key(Mode m, uint32_t value, uint8_t *key);

// Initialises head (root zeroed first) for mode, with the Rec offsets.
void init_head(tarn_head &head, Mode m);

// Walks the whole tree from head's own root and checks order under head's
// comparison, parent links, real heights against balance codes, the height
// bound, count, and in_tree of every node. `pool`, when given, is every
// record the test owns: those outside the tree must read in_tree 0.
::testing::AssertionResult tree_is_sound(const tarn_head &head,
                                         const std::vector<Rec> *pool = nullptr);

// Node addresses in key order, read through tarn_walk_tree.
std::vector<tarn_node *> in_order(tarn_head &head);

// A tree over a fixed pool of records with a sorted model of its values.
struct ModelTree {
    Mode mode;
    tarn_head head{};
    std::vector<Rec> pool;    // pool[v] carries value v
    std::set<uint32_t> model; // values linked

    ModelTree(Mode m, size_t values);
    Rec &rec(uint32_t value) { return pool[value]; }
    bool insert(uint32_t value);
    void remove(uint32_t value);
    uint32_t value_of(const tarn_node *n) const;
    std::vector<uint8_t> key(uint32_t value) const;
};

// A comparator whose codes a test chooses: the codes of the next calls in
// order, else a code at chosen node values, else one code everywhere, else
// the real order of 1-byte keys. scripted_keys reads key addresses;
// scripted_nodes reads Rec node addresses, for the probe calls.
constexpr uint32_t kRealOrder = 0xABCD;
extern uint32_t g_every_code;
extern std::map<uint32_t, uint32_t> g_code_at;
extern std::vector<uint32_t> g_sequence;
extern uint32_t g_last_extra;
extern size_t g_calls;
void script_reset();
uint32_t scripted_keys(const void *tree, const void *probe);
uint32_t scripted_exact(const void *tree, const void *probe, uint32_t extra);
uint32_t scripted_nodes(const void *tree, const void *probe);

// Keys 10, 20, ... 70 in a perfect tree (40 at the root), 1-byte keys, with
// the scripted comparator reset around each use.
struct Sevens {
    ModelTree t{Mode::Bytes1, 256};
    tarn_iterator it{};
    Sevens() {
        for (uint32_t v = 10; v <= 70; v += 10) t.insert(v);
        script_reset();
    }
    ~Sevens() { script_reset(); }
    void script() {
        t.head.compare = scripted_keys;
        t.head.compare_exact = scripted_exact;
    }
    tarn_node *node(uint32_t v) { return &t.rec(v).node; }
    int value(const tarn_node *n) const { return n ? int(t.value_of(n)) : -1; }
};

} // namespace tarn_test
