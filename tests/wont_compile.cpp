// SPDX-License-Identifier: MIT
// Keys and orders a tree refuses at compile time; each CASE_ must fail with
// its message (tests/CMakeLists.txt).
#include "tarn.hpp"

struct padded {
    char tag;
    int value; // three bytes of padding before it
};
struct record {
    tarn::hook link;
    padded pad;
    float weight;
    std::uint64_t wide;
};
#if defined(CASE_padding)
tarn::tree<record, &record::link, &record::pad, tarn::bytewise> t;
#elif defined(CASE_floating)
tarn::tree<record, &record::link, &record::weight, tarn::bytewise> t;
#elif defined(CASE_struct_key)
tarn::tree<record, &record::link, &record::pad> t;
#elif defined(CASE_size)
tarn::tree<record, &record::link, &record::wide, tarn::order_by<std::uint32_t>> t;
#endif
