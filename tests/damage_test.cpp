// Links damaged into a cycle: the recursive walk and the print stop
// descending at depth 100 instead of exhausting the stack.
#include <gtest/gtest.h>

#include <string>

#include "tarn.h"

namespace {

int g_visits;

TEST(DamagedTree, WalkAndPrintStopDescendingAtDepth100) {
    tarn_node a{}, b{};
    a.left = &b, b.right = &a, b.parent = &a; // a < b < a < ...
    tarn_head head{};
    ASSERT_EQ(tarn_init(&head, 0, 0, nullptr, nullptr), 1);
    head.root = &a;
    for (uint32_t order : {TARN_WALK_PREORDER, TARN_WALK_INORDER, TARN_WALK_POSTORDER}) {
        g_visits = 0;
        tarn_walk_tree_v2(&head, order, nullptr,
                          [](tarn_head *, tarn_node *, void *) { return int32_t(++g_visits); });
        EXPECT_EQ(g_visits, 100) << "order " << order;
    }
    g_visits = 0;
    testing::internal::CaptureStdout();
    tarn_print_tree(&head, TARN_WALK_POSTORDER, [](tarn_node *) { ++g_visits; });
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_visits, 100);
    EXPECT_NE(printed.find("depth 100,"), std::string::npos);
    EXPECT_EQ(printed.find("depth 101,"), std::string::npos);
    EXPECT_EQ(tarn_verify_balance_factors(&head), 0);
}

} // namespace
