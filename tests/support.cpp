#include "support.hpp"

#include "tree_check.hpp"

namespace tarn_test {

size_t key_length_of(Mode m) { return m == Mode::Bytes1 ? 1 : 4; }

uint32_t compare_le32(const void *tree_side, const void *probe) {
    uint32_t a, b;
    std::memcpy(&a, tree_side, 4);
    std::memcpy(&b, probe, 4);
    return a == b ? TARN_CMP_EQUAL : a > b ? TARN_CMP_GREATER : TARN_CMP_LESS;
}

void encode_key(Mode m, uint32_t value, uint8_t *key) {
    if (m == Mode::Callback)
        std::memcpy(key, &value, 4);
    else
        key[0] = uint8_t(value);
}

void init_head(tarn_head &head, Mode m) {
    head.root = nullptr;
    tarn_compare_fn fn = m == Mode::Callback ? compare_le32 : nullptr;
    ASSERT_EQ(tarn_init_new(&head, kNodeOffset, key_length_of(m), kKeyOffset, fn, nullptr), 1);
}

::testing::AssertionResult tree_is_sound(const tarn_head &head, const std::vector<Rec> *pool) {
    tarn_check::PoolView view;
    if (pool && !pool->empty()) view = {&pool->front().node, pool->size(), sizeof(Rec)};
    std::string problem = tarn_check::tree_problem(head, true, view);
    if (problem.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << problem;
}

std::vector<tarn_node *> in_order(tarn_head &head) {
    std::vector<tarn_node *> out;
    tarn_walk_tree(&head, &out, [](tarn_head *, tarn_node *n, void *ctx) -> int32_t {
        static_cast<std::vector<tarn_node *> *>(ctx)->push_back(n);
        return 1;
    });
    return out;
}

ModelTree::ModelTree(Mode m, size_t values) : mode(m), pool(values) {
    init_head(head, m);
    for (uint32_t v = 0; v < values; v++) {
        pool[v].payload = v;
        encode_key(m, v, pool[v].key);
    }
}

bool ModelTree::insert(uint32_t value) {
    bool fresh = model.insert(value).second;
    if (!fresh) return false; // the record is linked: inserting it would corrupt the tree
    return tarn_insert(&head, &pool[value].node) == 1;
}

void ModelTree::remove(uint32_t value) {
    model.erase(value);
    tarn_delete(&head, &pool[value].node);
}

uint32_t ModelTree::value_of(const tarn_node *n) const {
    return uint32_t(rec_of(const_cast<tarn_node *>(n))->payload);
}

std::vector<uint8_t> ModelTree::key(uint32_t value) const {
    std::vector<uint8_t> k(TARN_MAX_KEY_LEN);
    encode_key(mode, value, k.data());
    return k;
}

uint32_t g_every_code = kRealOrder;
std::map<uint32_t, uint32_t> g_code_at;
std::vector<uint32_t> g_sequence;
uint32_t g_last_extra;
size_t g_calls;

void script_reset() {
    g_every_code = kRealOrder;
    g_code_at.clear();
    g_sequence.clear();
    g_calls = 0;
}

namespace {

uint32_t scripted_code(uint32_t tree, uint32_t probe) {
    g_calls++;
    if (!g_sequence.empty()) {
        uint32_t r = g_sequence.front();
        g_sequence.erase(g_sequence.begin());
        return r;
    }
    if (auto it = g_code_at.find(tree); it != g_code_at.end()) return it->second;
    if (g_every_code != kRealOrder) return g_every_code;
    return tree == probe ? TARN_CMP_EQUAL : tree > probe ? TARN_CMP_GREATER : TARN_CMP_LESS;
}

} // namespace

uint32_t scripted_keys(const void *tree, const void *probe) {
    return scripted_code(*static_cast<const uint8_t *>(tree), *static_cast<const uint8_t *>(probe));
}

uint32_t scripted_exact(const void *tree, const void *probe, uint32_t extra) {
    g_last_extra = extra;
    return scripted_keys(tree, probe);
}

uint32_t scripted_nodes(const void *tree, const void *probe) {
    auto key = [](const void *n) {
        return reinterpret_cast<const uint8_t *>(n)[kKeyOffset - kNodeOffset];
    };
    return scripted_code(key(tree), key(probe));
}

} // namespace tarn_test
