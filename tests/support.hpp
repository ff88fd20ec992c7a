// The hand-written tables' tree of seven records (keys 10, 20, ... 70, 40 at
// the root) and a comparator whose codes a test scripts.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "tarn.h"

namespace tarn_test {

struct Rec {
    tarn_node node;
    uint8_t key;
};

// The scripted comparator's codes: `sequence` first, one per call; then
// `at` by the tree side's key; then `every`; else the real order.
struct Script {
    std::vector<uint32_t> sequence;
    std::map<uint8_t, uint32_t> at;
    int64_t every = -1;
};
inline Script g_script;

inline uint32_t scripted(uint8_t tree, uint8_t probe) {
    std::vector<uint32_t> &next = g_script.sequence;
    uint32_t code = tree == probe  ? TARN_CMP_EQUAL
                    : tree > probe ? TARN_CMP_GREATER
                                   : TARN_CMP_LESS;
    if (g_script.every >= 0) code = uint32_t(g_script.every);
    if (auto it = g_script.at.find(tree); it != g_script.at.end()) code = it->second;
    if (!next.empty()) code = next.front(), next.erase(next.begin());
    return code;
}
inline uint32_t by_key(const void *tree, const void *probe) {
    return scripted(*static_cast<const uint8_t *>(tree), *static_cast<const uint8_t *>(probe));
}
inline uint32_t by_node(const void *tree, const void *probe) {
    return scripted(static_cast<const Rec *>(tree)->key, static_cast<const Rec *>(probe)->key);
}

// Built byte-wise; `compare` (and the exact comparison with it) set after.
struct Sevens {
    tarn_head head{};
    Rec recs[256]{};
    tarn_iterator it{};
    explicit Sevens(tarn_compare_fn compare = nullptr) {
        g_script = {};
        tarn_init(&head, 1, offsetof(Rec, key), nullptr, nullptr);
        for (int k = 0; k < 256; k++) recs[k].key = uint8_t(k);
        for (int k : {40, 20, 60, 10, 30, 50, 70}) tarn_insert(&head, node(k));
        head.compare = compare;
        if (compare)
            head.compare_exact = [](const void *t, const void *p, uint32_t) {
                return by_key(t, p);
            };
    }
    tarn_node *node(int key) { return &recs[key].node; }
    static int key(const tarn_node *n) { return n ? reinterpret_cast<const Rec *>(n)->key : -1; }
};

} // namespace tarn_test
