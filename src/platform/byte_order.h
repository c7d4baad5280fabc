// Loads and stores of words whose meaning depends on the order of their
// bytes. Every such access in the library goes through here, so the host's
// byte order is known in this file alone and the code is exact on little-
// and big-endian hosts alike.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tavrine::platform {

static_assert(std::endian::native == std::endian::little ||
                  std::endian::native == std::endian::big,
              "hosts of mixed byte order are not supported");

// The bytes of v in reverse order (std::byteswap arrives with C++23). GCC and
// Clang get their own operation, usable in constant expressions too: inlined
// into the sort's comparisons, GCC 12 does not always see through the shifts
// below and then swaps the bytes step by step.
constexpr std::uint64_t byteSwap64(std::uint64_t v) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap64(v);
#else
    v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
    v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
    return (v << 32) | (v >> 32);
#endif
}
static_assert(byteSwap64(0x0102030405060708ull) == 0x0807060504030201ull);

constexpr std::uint32_t byteSwap32(std::uint32_t v) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap32(v);
#else
    v = ((v & 0x00FF00FFu) << 8) | ((v >> 8) & 0x00FF00FFu);
    return (v << 16) | (v >> 16);
#endif
}
static_assert(byteSwap32(0x01020304u) == 0x04030201u);

// The 4 bytes at p as a number whose most significant byte is p[0].
inline std::uint32_t loadBigEndian32(const std::uint8_t* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = byteSwap32(v);
    return v;
}

// The 8 bytes at p as a number whose most significant byte is p[0]: such
// numbers compare as the byte strings do.
inline std::uint64_t loadBigEndian64(const std::uint8_t* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = byteSwap64(v);
    return v;
}

// The 8 bytes at p as a number whose least significant byte is p[0]: byte i
// of the string is bits 8i .. 8i+7.
inline std::uint64_t loadLittleEndian64(const std::uint8_t* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = byteSwap64(v);
    return v;
}

// The inverse of loadLittleEndian64.
inline void storeLittleEndian64(std::uint8_t* p, std::uint64_t v) noexcept {
    if constexpr (std::endian::native == std::endian::big) v = byteSwap64(v);
    std::memcpy(p, &v, sizeof v);
}

}  // namespace tavrine::platform
