// SPDX-License-Identifier: MIT
// tarn/two_way.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// One level of a two-way descent, by conditional moves: the only assembly
// in tarn. The way down is a coin toss per level, which a branch
// mispredicts half the time.
#ifndef TARN_TWO_WAY_HPP
#define TARN_TWO_WAY_HPP

#include <cstdint>

#include "links.hpp"

namespace tarn::detail {

// When lhs <= rhs, n becomes the candidate and the way on is `kept`, else it
// is `passed`; `equal` tells whether lhs == rhs. The caller gives the mirror
// by the order of lhs and rhs. Clang 14 emits conditional moves for the
// plain spelling below; GCC 12 turns it into a branch on every other level
// of a loop that takes two levels a turn, so for GCC on x86-64 the moves are
// written out, and `equal` reads the comparison's flags (nothing is
// computed when unused). TARN_PORTABLE_TWO_WAY selects the plain spelling
// everywhere: the tests check it on every machine with it.
#if defined(__clang__)
#define TARN_UNPREDICTABLE(condition) __builtin_unpredictable(condition)
#else
#define TARN_UNPREDICTABLE(condition) (condition)
#endif
template <class Word>
inline tarn_node *keep_unless_above(Word lhs, Word rhs, tarn_node *n, tarn_node *&candidate,
                                    tarn_node *kept, tarn_node *passed, bool &equal) noexcept {
    static_assert(sizeof(Word) <= sizeof(std::uint64_t), "one machine word");
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) &&                             \
    !defined(TARN_PORTABLE_TWO_WAY)
    std::uint64_t a = lhs, b = rhs;
    asm("cmp %[b], %[a]\n\tcmovbe %[n], %[candidate]\n\tcmovbe %[kept], %[passed]"
        : [candidate] "+r"(candidate), [passed] "+r"(passed), "=@cce"(equal)
        : [a] "r"(a), [b] "r"(b), [n] "r"(n), [kept] "r"(kept));
    return passed;
#else
    const bool keep = TARN_UNPREDICTABLE(lhs <= rhs);
    equal = lhs == rhs;
    candidate = keep ? n : candidate;
    return keep ? kept : passed;
#endif
}

// One two-way level at n, whose key loads as `word`, keeping n on side S's
// near side of the probe: S = left keeps n when word <= probe and goes
// right from it (floor), S = right keeps n when probe <= word and goes left
// from it (ceiling). Either keeps an equal node, and `equal` tells when n
// was one.
template <side S, class Word>
inline tarn_node *two_way_level(tarn_node *n, Word word, Word probe, tarn_node *&candidate,
                                bool &equal) noexcept {
    if constexpr (S == side::left)
        return keep_unless_above(word, probe, n, candidate, n->right, n->left, equal);
    else
        return keep_unless_above(probe, word, n, candidate, n->left, n->right, equal);
}

} // namespace tarn::detail

#endif // TARN_TWO_WAY_HPP
