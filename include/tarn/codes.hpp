// SPDX-License-Identifier: MIT
// tarn/codes.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// The code tables: what each search and insertion does at a node, on each
// code its comparison gives. Every descent takes its decisions from one of
// these rows; a faster way through the tree says in a comment which row it
// answers as, and why.
#ifndef TARN_CODES_HPP
#define TARN_CODES_HPP

#include <cstdint>

#include "../tarn.h"

namespace tarn::detail {

// hit: the descent ends here, found. halt: it ends here, found nothing.
// keep_*: the node becomes the candidate (the last node kept), then the
// descent goes on that way.
enum class move : std::uint8_t { hit, halt, left, right, keep_left, keep_right };

struct code_row {
    move on_equal, on_greater, on_less, on_other;

    constexpr move at(std::uint32_t code) const noexcept {
        return code == TARN_CMP_EQUAL     ? on_equal
               : code == TARN_CMP_GREATER ? on_greater
               : code == TARN_CMP_LESS    ? on_less
                                          : on_other;
    }
};

constexpr bool keeps(move m) noexcept { return m == move::keep_left || m == move::keep_right; }
constexpr bool ends(move m) noexcept { return m == move::hit || m == move::halt; }

// clang-format off
//                                     code 0     1: node greater   2: node less      any other
// tarn_lookup, tarn_lookup_exact, the strict searches, range2's first node, a cursor's resume:
inline constexpr code_row find_row        {move::hit, move::left,      move::right,      move::right};
// tarn_insert: an equal node refuses the new one.
inline constexpr code_row insert_row      {move::hit, move::left,      move::right,      move::right};
// tarn_lookup_le:
inline constexpr code_row floor_row       {move::hit, move::left,      move::keep_right, move::left};
// tarn_lookup_ge and the first node of a range:
inline constexpr code_row ceiling_row     {move::hit, move::keep_left, move::right,      move::keep_left};
// the probe calls' finding descent:
inline constexpr code_row probe_row       {move::hit, move::left,      move::right,      move::halt};
// tarn_get_next_from_node, tarn_get_prev_from_node: the node kept is the
// last turn towards the probe, which answers when nothing nearer does.
inline constexpr code_row after_probe_row {move::hit, move::keep_left, move::right,      move::halt};
inline constexpr code_row before_probe_row{move::hit, move::left,      move::keep_right, move::halt};
// clang-format on

} // namespace tarn::detail

#endif // TARN_CODES_HPP
