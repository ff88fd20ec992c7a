// Removal by node: splice out the node or its in-order successor, retrace
// to the root while subtrees keep shrinking, then let the successor take the
// node's place. No comparator is called.
#include "base/checked.hpp"
#include "core/rebalance.hpp"

using namespace tarn::lib;

namespace {

Dir side_of(const tarn_node *n) { return n->parent && n->parent->left == n ? Left : Right; }

// p's subtree on side d lost a level while p was heavy on the far side, so
// p's child x there is lifted (rotate_up; both end balanced when x was
// heavy on the far side too, and the subtree keeps its height when x was
// balanced) or x's inner child is (rotate_up_twice). Gives the subtree's new
// top when the subtree lost a level too, else NULL.
template <Dir d>
tarn_node *rotate_after_shrink(tarn_head *head, tarn_node *p) {
    constexpr Dir far = other(d);
    tarn_node *x = child(p, far);
    if (x->balance == heavy(far)) {
        rotate_up<far>(head, p);
        p->balance = x->balance = TARN_BAL_EQ;
        return x;
    }
    if (x->balance == TARN_BAL_EQ) {
        rotate_up<far>(head, p);
        x->balance = heavy(d);
        return nullptr;
    }
    return rotate_up_twice<far>(head, p);
}

// Climbs while subtrees shrink. The far side's balance code is computed
// rather than branched on, since which side shrank is a coin toss per
// level; only a rotation picks a mirror-image instantiation. The parent
// and the side are read only when the climb goes on, from the subtree's
// top: a rotation puts that top where p was, under p's old parent on p's
// old side, so they are the ones the climb recorded before it. On a large
// tree each is a cache miss.
void retrace_after_removal(tarn_head *head, tarn_node *p, Dir side) {
    while (p) {
        uint32_t far_heavy = side == Left ? TARN_BAL_RH : TARN_BAL_LH;
        if (p->balance == TARN_BAL_EQ) {
            p->balance = far_heavy;
            return;
        }
        tarn_node *top = p;          // of the subtree that lost a level
        if (p->balance != far_heavy) // the shrunk side was the taller one
            p->balance = TARN_BAL_EQ;
        else if (!(top = on_side(side, [&]<Dir d>() { return rotate_after_shrink<d>(head, p); })))
            return;
        side = side_of(top);
        p = top->parent;
    }
}

} // namespace

TARN_EXPORT void tarn_delete(tarn_head *head, tarn_node *node) {
    if (!head || !node) return;
    check_changeable(head, __func__);
    if (!node->in_tree) return;
    check_member(head, node, __func__);
    // The node spliced out of its place: node itself, or with two children
    // its in-order successor, which takes node's place at the end.
    tarn_node *spliced = node->left && node->right ? outermost<Left>(node->right) : node;
    Dir side = side_of(spliced);
    tarn_node *p = spliced->parent;
    tarn_node *orphan = spliced->right ? spliced->right : spliced->left;
    link_to(head, spliced) = orphan;
    if (orphan) orphan->parent = p;
    retrace_after_removal(head, p, side);
    if (spliced != node) { // the retrace may have moved node: use its links as they stand
        link_to(head, node) = spliced;
        spliced->parent = node->parent;
        spliced->right = node->right;
        spliced->left = node->left;
        if (spliced->right) spliced->right->parent = spliced;
        if (spliced->left) spliced->left->parent = spliced;
        spliced->balance = node->balance;
    }
    head->count--;
    node->in_tree = 0;
    node->right = node->left = node->parent = nullptr;
}
