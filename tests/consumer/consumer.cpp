// Links three records through the C++ interface of an installed tarn.
#include <cstdio>
#include <vector>

#include <tarn.hpp>

struct item {
    int value;
    tarn_node link;
    std::uint8_t key;
};

int main() {
    item items[3] = {{30, {}, 3}, {10, {}, 1}, {20, {}, 2}};
    tarn::tree<item, &item::link, &item::key> tree;
    for (item &i : items) tree.insert(i);
    std::vector<int> values;
    for (const item &i : tree) values.push_back(i.value);
    const item *found = tree.find(2);
    bool ok = values == std::vector<int>{10, 20, 30} && found && found->value == 20 &&
              tarn_verify_balance_factors(tree.head());
    std::puts(ok ? "c++ consumer: ok" : "c++ consumer: FAILED");
    return ok ? 0 : 1;
}
