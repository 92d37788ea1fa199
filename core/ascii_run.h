#pragma once
// Runs of printable ASCII (0x20 to 0x7E), sixteen bytes at a time where the
// machine has SSE2: where a line of a long file ends, or needs a closer look.
// Inline, since they run once per line of files of some hundred thousand.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tolvar::ascii {

#if defined(__SSE2__)
// A bit for each of the sixteen bytes that is not printable ASCII. As signed
// bytes, printable ASCII is above 0x1F and not 0x7F; every byte from 0x80 up
// is negative.
inline unsigned NotPrintable(__m128i x) {
    const auto good =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(x, _mm_set1_epi8(0x1F))));
    const auto dels =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(0x7F))));
    return (~good & 0xFFFFu) | dels;
}
#endif

// A bit for each of the 64 bytes from p on that is not printable ASCII, the
// first byte in the lowest bit: a long text is looked at a block at a time,
// and its line ends are found among the few bits set.
inline std::uint64_t NotPrintable64(const char* p) {
    std::uint64_t bits = 0;
#if defined(__SSE2__)
    for (int k = 0; k < 4; ++k)
        bits |= std::uint64_t{NotPrintable(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k)))}
                << (16 * k);
#else
    for (int k = 0; k < 64; ++k) {
        const auto c = static_cast<std::uint8_t>(p[k]);
        if (c < 0x20 || c > 0x7E) bits |= std::uint64_t{1} << k;
    }
#endif
    return bits;
}

// The printable ASCII run at the start of text; copied to out when kCopy (out
// has room for text.size() bytes).
template <bool kCopy>
inline std::size_t Run(std::string_view text, char* out) {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; n - i >= 16; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        if (const unsigned bad = NotPrintable(x)) {
            const auto run = static_cast<std::size_t>(std::countr_zero(bad));
            if constexpr (kCopy) std::memcpy(out + i, p + i, run);
            return i + run;
        }
        if constexpr (kCopy) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), x);
    }
#endif
    for (; i < n; ++i) {
        const auto c = static_cast<std::uint8_t>(p[i]);
        if (c < 0x20 || c > 0x7E) break;
        if constexpr (kCopy) out[i] = p[i];
    }
    return i;
}

// As Run, for text that readable memory goes on after, up to readableEnd:
// sixteen bytes at a time to the end of text, with no byte-by-byte tail, as
// long as the sixteen lie before readableEnd. Copies up to fifteen bytes past
// the run to out when kCopy (out has room for text.size() + 16 bytes).
template <bool kCopy>
inline std::size_t RunWithin(std::string_view text, const char* readableEnd, char* out) {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i < n && readableEnd - (p + i) >= 16; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        if constexpr (kCopy) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), x);
        if (const unsigned bad = NotPrintable(x))
            return std::min(n, i + static_cast<std::size_t>(std::countr_zero(bad)));
    }
    if (i >= n) return n;
#endif
    return i + Run<kCopy>(text.substr(i), out + i);
}

}  // namespace tolvar::ascii
