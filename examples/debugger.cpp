// SPDX-License-Identifier: MIT
// A tree to look at in gdb: five records and a replica of the tree ordered
// by another comparator, all in place when the program reaches stop_here().
//
//     gdb build/examples/tarn_debugger -ex 'break stop_here' -ex run
//     (gdb) print tree
//
// The gdb_printers test checks what the pretty-printers print here.
#include "tarn.hpp"

struct item {
    int value;
    tarn_node link;
    std::uint8_t key[2];
};

std::uint32_t by_second_byte(const void *tree_side, const void *probe) {
    return tarn::order_by<std::uint8_t>::compare(static_cast<const std::uint8_t *>(tree_side) + 1,
                                                 static_cast<const std::uint8_t *>(probe) + 1);
}

item items[5];
tarn::tree<item, &item::link, &item::key> tree;
tarn_head replica;

extern "C" __attribute__((noinline)) void stop_here() { asm volatile(""); }

int main() {
    for (int i : {3, 1, 4, 0, 2}) {
        items[i] = {10 * i, {}, {std::uint8_t('a' + i), std::uint8_t('z' - i)}};
        tree.insert(items[i]);
    }
    tarn_replicate_head_node(tree.head(), &replica, by_second_byte);
    stop_here();
    tree.clear();
}
