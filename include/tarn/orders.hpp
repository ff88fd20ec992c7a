// SPDX-License-Identifier: MIT
// tarn/orders.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// The comparisons a descent makes, each bound to one probe: an order maps
// the address of a key in the tree to its code against that probe, 0
// (equal), 1 (the tree's key is greater) or 2. The choice of order is made
// once per call, so every loop below it is instantiated per order and tests
// no mode.
//
// The byte-wise order is memcmp's over a key's bytes, the first byte most
// significant. Keys of 1, 2, 4 and 8 bytes compare as one unsigned word
// loaded big-endian, 16-byte keys as one 128-bit word: on hosts of either
// byte order these order exactly as memcmp does, since a big-endian word's
// value is its bytes read from the first as the most significant.
#ifndef TARN_ORDERS_HPP
#define TARN_ORDERS_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "../tarn.h"

#if !defined(__BYTE_ORDER__) ||                                                                    \
    (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__ && __BYTE_ORDER__ != __ORDER_BIG_ENDIAN__)
#error "tarn needs a compiler that names the host's byte order (GCC or Clang)"
#endif

namespace tarn::detail {

// The word whose value orders as memcmp orders its sizeof(Word) bytes.
template <class Word>
inline Word load_big_endian(const void *bytes) noexcept {
    Word word;
    std::memcpy(&word, bytes, sizeof word);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if constexpr (sizeof(Word) == 2) word = __builtin_bswap16(word);
    if constexpr (sizeof(Word) == 4) word = __builtin_bswap32(word);
    if constexpr (sizeof(Word) == 8) word = __builtin_bswap64(word);
#endif
    return word;
}

template <class Word>
constexpr std::uint32_t code_of_words(Word tree, Word probe) noexcept {
    return tree == probe ? TARN_CMP_EQUAL : tree > probe ? TARN_CMP_GREATER : TARN_CMP_LESS;
}

// Keys of one machine word. Orders whose keys load as one unsigned integer
// name its type word_type and give load() and probe: the descents compare
// those with < and == instead of asking for a code.
template <class Word>
struct word_order {
    using word_type = Word;
    Word probe;
    word_order() = default;
    explicit word_order(const void *p) noexcept : probe(load(p)) {}
    static Word load(const void *key) noexcept { return load_big_endian<Word>(key); }
    std::uint32_t operator()(const void *tree_key) const noexcept {
        return code_of_words(load(tree_key), probe);
    }
};

// 16-byte keys as one 128-bit word: the compilers compare those without
// branches, where comparing two halves in turn branches on whether the high
// halves tie.
__extension__ typedef unsigned __int128 word128;

struct word128_order {
    using word_type = word128;
    word128 probe;
    word128_order() = default;
    explicit word128_order(const void *p) noexcept : probe(load(p)) {}
    static word128 load(const void *key) noexcept {
        return word128(load_big_endian<std::uint64_t>(key)) << 64 |
               load_big_endian<std::uint64_t>(static_cast<const unsigned char *>(key) + 8);
    }
    std::uint32_t operator()(const void *tree_key) const noexcept {
        return code_of_words(load(tree_key), probe);
    }
};

// Integers (and enumerations) as the host stores them: one unsigned word,
// signed ones with the sign bit flipped, which orders them as the unsigned
// words order. The numeric order of tarn.hpp's integral keys.
template <class Int>
struct native_word_order {
    using word_type = std::make_unsigned_t<Int>;
    static constexpr word_type flip =
        std::is_signed_v<Int> ? word_type(word_type(1) << (8 * sizeof(Int) - 1)) : word_type(0);
    word_type probe;
    native_word_order() = default;
    explicit native_word_order(const void *p) noexcept : probe(load(p)) {}
    static word_type load(const void *key) noexcept {
        word_type word;
        std::memcpy(&word, key, sizeof word);
        return word_type(word ^ flip);
    }
    std::uint32_t operator()(const void *tree_key) const noexcept {
        return code_of_words(load(tree_key), probe);
    }
};

struct memcmp_order {
    const void *probe;
    std::size_t length;
    std::uint32_t operator()(const void *tree_key) const noexcept {
        int r = std::memcmp(tree_key, probe, length);
        return r < 0 ? TARN_CMP_LESS : r > 0 ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
    }
};

// Key length 0: every key compares equal, and no byte is read.
struct all_equal_order {
    all_equal_order() = default;
    explicit all_equal_order(const void *) noexcept {}
    std::uint32_t operator()(const void *) const noexcept { return TARN_CMP_EQUAL; }
};

// A descriptor's comparator, and compare_exact with its extra value.
struct callback_order {
    tarn_compare_fn fn;
    const void *probe;
    std::uint32_t operator()(const void *tree_key) const { return fn(tree_key, probe); }
};

struct exact_callback_order {
    tarn_compare_exact_fn fn;
    const void *probe;
    std::uint32_t extra;
    std::uint32_t operator()(const void *tree_key) const { return fn(tree_key, probe, extra); }
};

template <class Order, class = void>
inline constexpr bool word_keys_v = false;
template <class Order>
inline constexpr bool word_keys_v<Order, std::void_t<typename Order::word_type>> = true;

// Keys of one machine word: the two-way descents take those.
template <class Order, class = void>
inline constexpr bool one_word_keys_v = false;
template <class Order>
inline constexpr bool one_word_keys_v<Order, std::void_t<typename Order::word_type>> =
    sizeof(typename Order::word_type) <= sizeof(std::uint64_t);

// The byte-wise order of keys of a length known at compile time, bound to
// probe.
template <std::size_t Length>
inline auto bytewise_order(const void *probe) noexcept {
    if constexpr (Length == 0)
        return all_equal_order(probe);
    else if constexpr (Length == 1)
        return word_order<std::uint8_t>(probe);
    else if constexpr (Length == 2)
        return word_order<std::uint16_t>(probe);
    else if constexpr (Length == 4)
        return word_order<std::uint32_t>(probe);
    else if constexpr (Length == 8)
        return word_order<std::uint64_t>(probe);
    else if constexpr (Length == 16)
        return word128_order(probe);
    else
        return memcmp_order{probe, Length};
}

// The same for a length known at run time: calls body(order_for), where
// order_for(probe) binds the order to a probe. Each body is instantiated per
// order, so its loops test no length.
template <class Body>
inline decltype(auto) with_bytewise_order(std::size_t length, Body &&body) {
    switch (length) {
    case 0: return body([](const void *p) { return bytewise_order<0>(p); });
    case 1: return body([](const void *p) { return bytewise_order<1>(p); });
    case 2: return body([](const void *p) { return bytewise_order<2>(p); });
    case 4: return body([](const void *p) { return bytewise_order<4>(p); });
    case 8: return body([](const void *p) { return bytewise_order<8>(p); });
    case 16: return body([](const void *p) { return bytewise_order<16>(p); });
    default: return body([length](const void *p) { return memcmp_order{p, length}; });
    }
}

// Calls body(order_for) with the descriptor's comparator, or its byte-wise
// order when it has none.
template <class Body>
inline decltype(auto) with_key_order(const tarn_head &head, Body &&body) {
    if (tarn_compare_fn fn = head.compare)
        return body([fn](const void *p) { return callback_order{fn, p}; });
    return with_bytewise_order(head.key_length, body);
}

} // namespace tarn::detail

#endif // TARN_ORDERS_HPP
