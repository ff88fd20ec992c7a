// SPDX-License-Identifier: MIT
// What tarn.hpp stops in a build of the user's program without NDEBUG: one
// death test per misuse, each naming the call, and sound use around it
// running through.
#undef NDEBUG
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <utility>

#include "tarn.hpp"

namespace {

struct Rec {
    tarn::hook link;
    unsigned key;
};
using Tree = tarn::tree<Rec, &Rec::link, &Rec::key>;

// Two trees, keys 1 to 8 and 9, and a batch's storage.
struct Trees {
    Rec recs[10];
    Tree tree, other;
    unsigned keys[4] = {1, 2, 3, 4};
    Rec *out[4];
    Trees() {
        for (unsigned i = 0; i < 10; i++) recs[i].key = i + 1;
        for (unsigned i = 0; i < 8; i++) tree.insert(recs[i]);
        other.insert(recs[8]);
    }
};

// clang-format off
#define ROW(message, ...) {message, [](Trees &t) { __VA_ARGS__; }}
const std::pair<const char *, void (*)(Trees &)> kRows[] = {
    ROW("tarn::tree::insert: the record is already linked", t.tree.insert(t.recs[8])),
    ROW("tarn::tree::insert: the record is already linked", t.tree.insert(t.tree.end(), t.recs[0])),
    ROW("tarn::tree::insert_commit: the record is already linked",
        Tree::insert_commit_data d; t.tree.insert_check(20, d); t.tree.insert_commit(t.recs[8], d)),
    ROW("tarn::tree::insert_commit: the tree changed since insert_check",
        Tree::insert_commit_data d; t.tree.insert_check(20, d); t.tree.erase(t.recs[0]);
        t.tree.insert_commit(t.recs[9], d)),
    ROW("tarn::tree::assign_sorted: the tree is not empty",
        Rec *none = nullptr; t.tree.assign_sorted(&none, &none)),
    ROW("tarn::tree::assign_sorted: the record is already linked",
        Rec *r[] = {&t.recs[9], &t.recs[0]}; Tree fresh; fresh.assign_sorted(r, r + 2)),
    ROW("tarn::tree::erase: the record is linked in another tree", t.tree.erase(t.recs[8])),
    ROW("tarn::tree::erase: the record is linked in another tree",
        t.tree.erase(Tree::iterator_to(t.recs[8]))),
    ROW("tarn::tree::erase: erase of end()", t.tree.erase(t.tree.end())),
    ROW("tarn::tree::reposition: the record is not linked", t.tree.reposition(t.recs[9])),
    ROW("tarn::tree::iterator: step past the end", ++t.tree.end()),
    ROW("tarn::tree::iterator: step before the first record", --t.tree.begin()),
    ROW("tarn::tree::iterator: dereference of end()", static_cast<void>(*t.tree.end())),
    ROW("tarn::tree::iterator: step back from an end that knows no tree",
        --++Tree::iterator_to(t.recs[7])),
    ROW("tarn::tree: changed through a descriptor pointer kept from an earlier head()",
        tarn_head *h = t.tree.head(); t.tree.insert(t.tree.end(), t.recs[9]);
        tarn_delete(h, &t.recs[9].link); t.tree.insert(t.tree.end(), t.recs[9])),
    ROW("tarn::tree batched lookup: out overlaps keys",
        t.tree.find(t.keys, 4, reinterpret_cast<Rec **>(t.keys))),
};
// clang-format on

TEST(CppDebugDeathTest, EachMisuseAbortsNamingTheCall) {
    for (const auto &[message, misuse] : kRows) {
        Trees trees;
        EXPECT_EXIT(misuse(trees), testing::KilledBySignal(SIGABRT), std::string("^") + message)
            << message;
    }
}

} // namespace
