// Explode's runs of binary literals: eight literals of 9 bits each are 9 whole bytes, so a
// run is unpacked straight from the input buffer, eight literals per step, with SSE2 or SSSE3
// where the processor has them, with SIMD128 in WebAssembly and with 64-bit words elsewhere. Included by explode.cpp alone,
// inside its anonymous namespace, so that every function here is inlined into the decoder.
#pragma once

// Long runs of binary literals (incompressible data) are unpacked straight from the input
// buffer, eight per step: 8 x 9 bits are 9 whole bytes, so the bit offset stays put and no
// step waits for the one before.
//
// With SSE2 a step works on eight 16-bit lanes, one per literal: lane i holds the two input
// bytes that contain literal i's flag and its 8 bits (from byte i, or byte i + 1 once the
// flag has moved into the next byte), and one multiply by a power of two per lane moves the
// flag to bit 7 and the literal into the high byte. Which lanes start one byte later and by
// how much each lane shifts depend only on the run's bit offset, so they come from a table
// of eight entries. Steps go in pairs: sixteen literals, one store, one test of the flags.
// With SSSE3 (checked once per stream) one byte shuffle gives every lane its two bytes, and
// so with WebAssembly's SIMD128.
// Without SSE2 the eight bytes are gathered in one 64-bit word, byte i moved down by i bits
// in three rounds (by 1, 2 and 4).
constexpr unsigned RUN_LITERALS = 8;
constexpr unsigned RUN_STEP_BYTES = RUN_LITERALS * BINARY_LITERAL_BITS / 8;
// A step reads this many bytes from its first one: the literals' 9 or 10 bytes, whole words.
constexpr unsigned RUN_LOAD_BYTES = 16;

#if defined(__SSE2__) || defined(__wasm_simd128__)
// Lane constants of a step for one bit offset of the run.
struct RunLanes {
    alignas(16) std::uint16_t nextByte[RUN_LITERALS]; // 0xFFFF: the lane takes bytes i + 1, i + 2
    alignas(16) std::uint16_t scale[RUN_LITERALS];    // 2^(7 - f), f the flag's bit in the lane
};

constexpr std::array<RunLanes, 8> MakeRunLanes()
{
    std::array<RunLanes, 8> table{};
    for (unsigned offset = 0; offset < 8; ++offset) {
        for (unsigned i = 0; i < RUN_LITERALS; ++i) {
            // Literal i's flag is bit 9i + offset of the step; counted from byte i that is
            // bit i + offset, which lies in byte i + 1 from i + offset = 8 on.
            const unsigned flagBit = (i + offset) % 8;
            table[offset].nextByte[i] = i + offset >= 8 ? 0xFFFF : 0;
            table[offset].scale[i] = static_cast<std::uint16_t>(1u << (7 - flagBit));
        }
    }
    return table;
}

constexpr std::array<RunLanes, 8> kRunLanes = MakeRunLanes();

// Per bit offset: the byte shuffle that puts bytes b, b + 1 into lane i, b = i or i + 1.
struct RunShuffle {
    alignas(16) std::uint8_t bytes[16];
};

constexpr std::array<RunShuffle, 8> MakeRunShuffles()
{
    std::array<RunShuffle, 8> table{};
    for (unsigned offset = 0; offset < 8; ++offset) {
        for (unsigned i = 0; i < RUN_LITERALS; ++i) {
            const unsigned first = i + (i + offset >= 8 ? 1 : 0);
            table[offset].bytes[2 * i] = static_cast<std::uint8_t>(first);
            table[offset].bytes[2 * i + 1] = static_cast<std::uint8_t>(first + 1);
        }
    }
    return table;
}

constexpr std::array<RunShuffle, 8> kRunShuffles = MakeRunShuffles();

// Bits of UnpackRunSteps' mask per literal: the byte mask of the lanes, whose even bits are
// the lanes' bits 7.
constexpr unsigned RUN_MASK_BITS = 2;
#endif

#if defined(__SSE2__)
// Lane i of the result holds literal i of the step at `in` in its high byte and the
// literal's flag in bit 7.
inline __m128i UnpackRunLanes(const unsigned char* in, const RunLanes& lanes)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i v1 = _mm_srli_si128(v, 1);
    const __m128i here = _mm_unpacklo_epi8(v, v1);                    // bytes i, i + 1
    const __m128i next = _mm_unpacklo_epi8(v1, _mm_srli_si128(v, 2)); // bytes i + 1, i + 2
    const __m128i useNext = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes.nextByte));
    const __m128i scale = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes.scale));
    const __m128i word =
        _mm_or_si128(_mm_andnot_si128(useNext, here), _mm_and_si128(useNext, next));
    return _mm_mullo_epi16(word, scale); // the flag from bit f to bit 7, the literal above it
}

// Unpacks the literals of kSteps (1 or 2) steps from `in`, whose first flag is bit `offset`
// of its first byte, into dst (8 bytes per step). Returns 0 when all are literals, else a
// mask whose lowest set bit is the first match's (bit 2i for literal i); bytes stored for a
// match and behind it are scratch, the match overwrites them.
template <unsigned kSteps>
inline unsigned UnpackRunSteps(const unsigned char* in, unsigned offset, unsigned char* dst)
{
    static_assert(kSteps == 1 || kSteps == 2, "a step is eight 16-bit lanes; two fill one store");
    const RunLanes& lanes = kRunLanes[offset];
    const __m128i lanes0 = UnpackRunLanes(in, lanes);
    // The byte mask's even bits are the lanes' bits 7: the flags.
    unsigned flags = static_cast<unsigned>(_mm_movemask_epi8(lanes0));
    if (kSteps == 1) {
        const __m128i literals = _mm_srli_epi16(lanes0, 8);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(literals, literals));
    } else {
        const __m128i lanes1 = UnpackRunLanes(in + RUN_STEP_BYTES, lanes);
        flags |= static_cast<unsigned>(_mm_movemask_epi8(lanes1)) << 16;
        const __m128i literals =
            _mm_packus_epi16(_mm_srli_epi16(lanes0, 8), _mm_srli_epi16(lanes1, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), literals);
    }
    return flags & 0x55555555u;
}

#if defined(__GNUC__)
// Processors with SSSE3 (checked when explode starts) take each lane's two bytes with one
// byte shuffle instead of two unpacks and a blend: half the instructions per step.
#define EXPLODE_RUN_SSSE3 1

// Asked of the processor itself, once: the compiler's own feature check would link a start-up
// routine that queries every feature in every process, whether it explodes or not.
bool CpuHasSsse3()
{
    static const bool has = [] {
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_SSSE3) != 0;
    }();
    return has;
}

// UnpackRunPairs with SSSE3.
[[gnu::target("ssse3")]] unsigned UnpackRunPairsSsse3(const unsigned char* in, unsigned offset,
                                                      unsigned char* window, unsigned& byteRef,
                                                      unsigned& outRef, unsigned pairs)
{
    const __m128i shuffle =
        _mm_load_si128(reinterpret_cast<const __m128i*>(kRunShuffles[offset].bytes));
    const __m128i scale = _mm_load_si128(reinterpret_cast<const __m128i*>(kRunLanes[offset].scale));
    // Locals, which the stores into the window cannot alias.
    unsigned byte = byteRef;
    unsigned out = outRef;
    unsigned flags = 0;
    do {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + byte));
        const __m128i v1 =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + byte + RUN_STEP_BYTES));
        const __m128i lanes0 = _mm_mullo_epi16(_mm_shuffle_epi8(v0, shuffle), scale);
        const __m128i lanes1 = _mm_mullo_epi16(_mm_shuffle_epi8(v1, shuffle), scale);
        flags = (static_cast<unsigned>(_mm_movemask_epi8(lanes0)) |
                 static_cast<unsigned>(_mm_movemask_epi8(lanes1)) << 16) &
                0x55555555u;
        const __m128i literals =
            _mm_packus_epi16(_mm_srli_epi16(lanes0, 8), _mm_srli_epi16(lanes1, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(window + out), literals);
        if (flags != 0)
            break;
        out += 2 * RUN_LITERALS;
        byte += 2 * RUN_STEP_BYTES;
    } while (--pairs != 0);
    byteRef = byte;
    outRef = out;
    return flags;
}
#endif
#elif defined(__wasm_simd128__)
// WebAssembly's SIMD128 has the byte shuffle SSSE3 has (swizzle), so a step is one shuffle
// and one multiply, as there; every browser that runs the page has SIMD128.

// Lane i of the result holds literal i of the step at `in` in its high byte and the
// literal's flag in bit 7.
inline v128_t UnpackRunLanes(const unsigned char* in, unsigned offset)
{
    const v128_t shuffle = wasm_v128_load(kRunShuffles[offset].bytes);
    const v128_t scale = wasm_v128_load(kRunLanes[offset].scale);
    return wasm_i16x8_mul(wasm_i8x16_swizzle(wasm_v128_load(in), shuffle), scale);
}

// Unpacks the literals of kSteps (1 or 2) steps from `in`, whose first flag is bit `offset`
// of its first byte, into dst (8 bytes per step). Returns 0 when all are literals, else a
// mask whose lowest set bit is the first match's (bit 2i for literal i); bytes stored for a
// match and behind it are scratch, the match overwrites them.
template <unsigned kSteps>
inline unsigned UnpackRunSteps(const unsigned char* in, unsigned offset, unsigned char* dst)
{
    static_assert(kSteps == 1 || kSteps == 2, "a step is eight 16-bit lanes; two fill one store");
    const v128_t lanes0 = UnpackRunLanes(in, offset);
    unsigned flags = wasm_i8x16_bitmask(lanes0);
    if (kSteps == 1) {
        const v128_t literals = wasm_u16x8_shr(lanes0, 8);
        wasm_v128_store64_lane(dst, wasm_u8x16_narrow_i16x8(literals, literals), 0);
    } else {
        const v128_t lanes1 = UnpackRunLanes(in + RUN_STEP_BYTES, offset);
        flags |= wasm_i8x16_bitmask(lanes1) << 16;
        wasm_v128_store(
            dst, wasm_u8x16_narrow_i16x8(wasm_u16x8_shr(lanes0, 8), wasm_u16x8_shr(lanes1, 8)));
    }
    return flags & 0x55555555u;
}
#else
constexpr std::uint64_t RUN_FLAGS = 0x8040201008040201; // bits 0, 9, ..., 63

// Bits of the fields that move by `shift` in the gathering round of that shift.
constexpr std::uint64_t GatherMask(unsigned shift)
{
    std::uint64_t mask = 0;
    for (unsigned i = 0; i < RUN_LITERALS - 1; ++i) {
        unsigned pos = 9 * i;
        for (unsigned s = 1; s < shift; s <<= 1)
            if ((i & s) != 0)
                pos -= s;
        if ((i & shift) != 0)
            mask |= std::uint64_t{0xFF} << pos;
    }
    return mask;
}

inline std::uint64_t GatherRound(std::uint64_t v, unsigned shift, std::uint64_t mask)
{
    return (v & ~mask) | ((v & mask) >> shift);
}

// Unpacks the literals of kSteps steps from `in`, whose first flag is bit `offset` of its
// first byte, into dst (8 bytes per step). Returns 0 when all are literals, else a mask
// whose lowest set bit is the first match's (bit i for literal i); bytes stored for a match
// and behind it are scratch, the match overwrites them.
template <unsigned kSteps>
inline unsigned UnpackRunSteps(const unsigned char* in, unsigned offset, unsigned char* dst)
{
    for (unsigned step = 0; step < kSteps; ++step) {
        const unsigned char* const at = in + step * RUN_STEP_BYTES;
        const std::uint64_t lo = LoadLittleEndian64(at);
        const std::uint64_t hi = LoadLittleEndian64(at + 8);
        const std::uint64_t bits = offset == 0 ? lo : (lo >> offset) | (hi << (64 - offset));
        std::uint64_t v = bits >> 1; // byte i of the first seven at bit 9i
        v = GatherRound(v, 1, GatherMask(1));
        v = GatherRound(v, 2, GatherMask(2));
        v = GatherRound(v, 4, GatherMask(4));
        v |= ((hi >> offset) & 0xFF) << 56; // the eighth byte lies in the second word
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        v = __builtin_bswap64(v);
#endif
        std::memcpy(dst + step * RUN_LITERALS, &v, sizeof v);
        const std::uint64_t matchFlags = bits & RUN_FLAGS;
        if (matchFlags != 0) {
            const unsigned literals =
                static_cast<unsigned>(__builtin_ctzll(matchFlags)) / BINARY_LITERAL_BITS;
            return 1u << (step * RUN_LITERALS + literals);
        }
    }
    return 0;
}

// Bits of UnpackRunSteps' mask per literal.
constexpr unsigned RUN_MASK_BITS = 1;
#endif

// Unpacks `pairs` (1 or more) pairs of steps from in + byte into window + out, each pair's
// first flag at bit `offset` of its first byte, until a pair shows a match flag. Returns
// that pair's mask (as UnpackRunSteps), 0 when all were literals; byte and out are left at
// the first pair not wholly taken.
inline unsigned UnpackRunPairs(const unsigned char* in, unsigned offset, unsigned char* window,
                               unsigned& byteRef, unsigned& outRef, unsigned pairs)
{
    // Locals, which the stores into the window cannot alias.
    unsigned byte = byteRef;
    unsigned out = outRef;
    unsigned flags = 0;
    do {
        flags = UnpackRunSteps<2>(in + byte, offset, window + out);
        if (flags != 0)
            break;
        out += 2 * RUN_LITERALS;
        byte += 2 * RUN_STEP_BYTES;
    } while (--pairs != 0);
    byteRef = byte;
    outRef = out;
    return flags;
}
