// tarn.hpp's templates instantiated, so that the strictest warnings see
// inside them (tests/headers/run): two trees, byte-wise and ordered, with
// each kind of call.
#include "tarn.hpp"

struct rec {
    tarn_node node;
    std::uint32_t key;
    unsigned char bytes[3];
};

template <class Tree, class Key>
std::size_t exercise(Tree &tree, rec &r, const Key (&keys)[2]) {
    const Key &key = keys[0];
    std::size_t n = tree.insert(r) ? 1 : 0;
    for (rec &each : tree) n += sizeof each.key;
    for (rec &each : tree.range(key, key)) n += sizeof each.key;
    auto cursor = tree.scan();
    for (rec *each = cursor.first(); each; each = cursor.next()) cursor.yield();
    cursor.seek(key);
    if (cursor.prev() == cursor.current()) n++;
    auto ranged = tree.scan(key, key);
    for (rec *each = ranged.first(); each; each = ranged.next()) ranged.yield();
    rec *out[2] = {};
    tree.find(keys, 2, out), tree.floor(keys, 2, out), tree.ceiling(keys, 2, out);
    n += tree.find(key) == tree.floor(key) && tree.ceiling(key) == tree.next_after(key);
    if (tree.contains(key) && !tree.empty() && tree.first() == tree.prev_before(key)) n++;
    tree.erase(r);
    tree.clear_and_dispose([&n](rec &) noexcept { n++; });
    return n + tree.size();
}

std::size_t strict() {
    tarn::tree<rec, &rec::node, &rec::key, tarn::order_by<std::uint32_t>> ordered;
    tarn::tree<rec, &rec::node, &rec::bytes> bytewise;
    rec r{};
    const std::uint32_t keys[2] = {1, 2};
    const unsigned char bytes[2][3] = {{1, 2, 3}, {4, 5, 6}};
    return exercise(ordered, r, keys) + exercise(bytewise, r, bytes);
}
