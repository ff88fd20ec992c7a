// tree::clear and clear_and_dispose: one pass hands over every record once,
// already unlinked, without comparing; the disposer frees heap records, so a
// touch after it shows under ASan and valgrind. The tree is reusable after.
#include <gtest/gtest.h>

#include <set>

#include "tarn.hpp"

namespace {

struct Item {
    std::uint32_t key;
    tarn_node link;
};
int comparisons = 0;
struct CountingOrder {
    static std::uint32_t compare(const void *tree_side, const void *probe) noexcept {
        comparisons++;
        return tarn::order_by<std::uint32_t>::compare(tree_side, probe);
    }
};
bool unlinked(const Item &item) {
    return item.link.in_tree == 0 && !item.link.right && !item.link.left && !item.link.parent;
}

TEST(CppClear, DisposesEveryRecordOnceUnlinkedWithoutComparing) {
    for (std::uint32_t n : {0u, 1u, 2u, 3u, 1000u}) {
        tarn::tree<Item, &Item::link, &Item::key, CountingOrder> tree;
        std::set<Item *> linked;
        for (std::uint32_t i = 0; i < n; i++) // distinct keys, shuffled
            ASSERT_TRUE(tree.insert(**linked.insert(new Item{i * 2654435761u, {}}).first));
        comparisons = 0;
        tree.clear_and_dispose([&](Item &item) {
            EXPECT_TRUE(linked.erase(&item) == 1 && unlinked(item) && tree.empty());
            delete &item;
        });
        EXPECT_TRUE(linked.empty() && comparisons == 0 && tree.size() == 0 && !tree.first());

        Item again[3] = {{0, {}}, {1, {}}, {2, {}}};
        for (Item &item : again) ASSERT_TRUE(tree.insert(item));
        EXPECT_EQ(tree.find(1), &again[1]);
        tree.clear();
        for (const Item &item : again) EXPECT_TRUE(unlinked(item));
        EXPECT_TRUE(tree.size() == 0 && tree.empty());
    }
}

} // namespace
