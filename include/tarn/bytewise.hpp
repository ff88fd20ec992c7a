// tarn/bytewise.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// The byte-wise order: memcmp's over a key's bytes, the first byte most
// significant, with codes 0 (equal), 1 (the tree's key is greater) and 2.
// Keys of 1, 2, 4 and 8 bytes compare as one unsigned word loaded
// big-endian, 16-byte keys as one 128-bit word: on hosts of either byte
// order these order exactly as memcmp does, since a big-endian word's value
// is its bytes read from the first as the most significant.
#ifndef TARN_BYTEWISE_HPP
#define TARN_BYTEWISE_HPP

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

// Each order below is bound to one probe and maps the address of a key in
// the tree to its code against that probe.

// Keys of one machine word.
template <class Word>
struct WordOrder {
    Word probe;
    WordOrder() = default;
    explicit WordOrder(const void *p) noexcept : probe(load_big_endian<Word>(p)) {}
    static Word load(const void *key) noexcept { return load_big_endian<Word>(key); }
    std::uint32_t operator()(const void *tree_key) const noexcept {
        return code_of_words(load(tree_key), probe);
    }
};

// 16-byte keys as one 128-bit word: the compilers compare those without
// branches, where comparing two halves in turn branches on whether the high
// halves tie.
__extension__ typedef unsigned __int128 Word128;

struct Word128Order {
    Word128 probe;
    static Word128 load(const void *key) noexcept {
        return Word128(load_big_endian<std::uint64_t>(key)) << 64 |
               load_big_endian<std::uint64_t>(static_cast<const unsigned char *>(key) + 8);
    }
    Word128Order() = default;
    explicit Word128Order(const void *p) noexcept : probe(load(p)) {}
    std::uint32_t operator()(const void *tree_key) const noexcept {
        return code_of_words(load(tree_key), probe);
    }
};

struct MemcmpOrder {
    const void *probe;
    std::size_t length;
    std::uint32_t operator()(const void *tree_key) const noexcept {
        int r = std::memcmp(tree_key, probe, length);
        return r < 0 ? TARN_CMP_LESS : r > 0 ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
    }
};

// Key length 0: every key compares equal, and no byte is read.
struct AllEqualOrder {
    AllEqualOrder() = default;
    explicit AllEqualOrder(const void *) noexcept {}
    std::uint32_t operator()(const void *) const noexcept { return TARN_CMP_EQUAL; }
};

// Orders whose keys load as one integer, compared with < and ==: one
// machine word, or (kWordKeys) that or 128 bits.
template <class Order>
constexpr bool kOneWordKeys = false;
template <class Word>
constexpr bool kOneWordKeys<WordOrder<Word>> = true;
template <class Order>
constexpr bool kWordKeys = kOneWordKeys<Order> || std::is_same_v<Order, Word128Order>;

// The byte-wise order of keys of a length known at compile time, bound to
// probe.
template <std::size_t Length>
inline auto bytewise_order(const void *probe) noexcept {
    if constexpr (Length == 0)
        return AllEqualOrder(probe);
    else if constexpr (Length == 1)
        return WordOrder<std::uint8_t>(probe);
    else if constexpr (Length == 2)
        return WordOrder<std::uint16_t>(probe);
    else if constexpr (Length == 4)
        return WordOrder<std::uint32_t>(probe);
    else if constexpr (Length == 8)
        return WordOrder<std::uint64_t>(probe);
    else if constexpr (Length == 16)
        return Word128Order(probe);
    else
        return MemcmpOrder{probe, Length};
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
    default: return body([length](const void *p) { return MemcmpOrder{p, length}; });
    }
}

} // namespace tarn::detail

#endif // TARN_BYTEWISE_HPP
