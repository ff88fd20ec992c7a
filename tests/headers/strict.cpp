// SPDX-License-Identifier: MIT
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

// The container's changes, summaries and algebra.
struct span {
    tarn::hook link;
    std::uint64_t start, end, largest;
    std::size_t size;
};
using spans = tarn::tree<span, &span::link, &span::start, tarn::order_by<std::uint64_t>,
                         tarn::interval_ends<&span::end, &span::largest>>;
using sized = tarn::tree<span, &span::link, &span::start, tarn::order_by<std::uint64_t>,
                         tarn::subtree_size<&span::size>>;

std::size_t container(span (&s)[4]) {
    std::size_t n = 0;
    {
        sized t, other;
        span *all[4] = {&s[0], &s[1], &s[2], &s[3]};
        n += t.assign_sorted(all, all + 2);
        sized::insert_commit_data data;
        if (t.insert_check(9, data).second) t.insert_commit(s[2], data);
        t.insert(t.end(), s[3]);
        s[3].start++;
        n += t.reposition(s[3]) + t.rank(s[0]) + t.count(1, 5) + (t.nth(1) != nullptr);
        for (auto it = t.rbegin(); it != t.rend(); ++it) n++;
        auto range = t.equal_range(1);
        n += range.first == range.second;
        sized high = t.split(2);
        t.join(std::move(high));
        t.merge(other), t.intersect(other), t.subtract(other);
        bool linked[4];
        t.erase(t.lower_bound(0), t.upper_bound(1));
        t.erase(all, 4);
        t.insert(all, 4, linked);
        const std::uint64_t keys[2] = {1, 2};
        n += t.erase(keys, 2) + t.erase(std::uint64_t{3});
        t.clear();
    }
    spans u;
    for (span &each : s) u.insert(each);
    for (span &each : u.overlaps(1, 3)) n += each.size;
    u.for_each_overlap(0, 9, [&n](span &) { n++; });
    u.refresh(s[0]);
    if (u.first_where([](const span &below) { return below.largest > 2; },
                      [](const span &each) { return each.end > 2; }))
        n++;
    return n;
}

std::size_t strict() {
    tarn::tree<rec, &rec::node, &rec::key, tarn::order_by<std::uint32_t>> ordered;
    tarn::tree<rec, &rec::node, &rec::bytes> bytewise;
    rec r{};
    const std::uint32_t keys[2] = {1, 2};
    const unsigned char bytes[2][3] = {{1, 2, 3}, {4, 5, 6}};
    span s[4] = {};
    return exercise(ordered, r, keys) + exercise(bytewise, r, bytes) + container(s);
}
