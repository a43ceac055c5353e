// Explode: turns an implode stream back into the bytes that were compressed.
//
// The codes are fixed, so nothing is built per block: at the start the decoder turns the
// code tables into index tables (one lookup of 11 bits finds most matches whole, length and
// distance code together; otherwise one 8-bit lookup finds a length code with its extra bits
// and base, another a distance code with its bits; an ASCII literal longer than 8 bits takes
// a second lookup) and then decodes step by step. A step of binary literals takes all that
// stand before the next match flag at once, up to four, and the match behind them.
//
// Bits come from a 64-bit buffer refilled eight bytes at a time from the 2048-byte input
// buffer. The read callback is called only when that buffer is used up and bits are
// actually needed, so the input is pulled exactly as far as the format requires. The
// decoder has always kept the next 8 bits ready for a lookup: dropping n bits needs n + 8
// bits of stream, and a token whose following 8 bits are missing counts as cut off. The one
// exception is the end code, whose last bits may be the last bits of the stream; a stream
// that ends anywhere else returns CODEC_STREAM_ENDED, with everything before that written.
//
// Output goes into a window of 4096 bytes of history followed by a production area of four
// 4096-byte pieces. Matches are copied in 16-byte pieces when source and destination are 16
// or more bytes apart, else in 8-byte words: directly from 8 bytes apart, otherwise after
// widening the repeating pattern to 8 bytes or more. A piece is written as soon as it is full; once the whole area is written, its last
// piece is moved down to become the history.
#include "codec/explode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#endif

#include "codec/codec.h"
#include "codec/tables.h"

namespace {

// Bits the decoder keeps ready behind every drop: one 8-bit table lookup.
constexpr unsigned LOOKAHEAD_BITS = 8;
// Most bits one token takes: flag, 7-bit length code, 8 extra bits, 8-bit distance code and
// 6 low distance bits.
constexpr unsigned MAX_TOKEN_BITS = 1 + 7 + 8 + 8 + 6;
// A refill from the input buffer leaves at least this many bits in the bit buffer.
constexpr unsigned REFILL_BITS = 56;
static_assert(MAX_TOKEN_BITS + LOOKAHEAD_BITS <= REFILL_BITS,
              "one refill must cover a whole token");

// Runs of binary literals (all of incompressible data, much of text) are decoded five at a
// time when their flag bits are all 0: 45 bits plus the lookahead fit one refill.
constexpr unsigned BINARY_LITERAL_BITS = 9;
constexpr unsigned BATCH_LITERALS = 5;
constexpr unsigned BATCH_BITS = BATCH_LITERALS * BINARY_LITERAL_BITS + LOOKAHEAD_BITS;
constexpr std::uint64_t BATCH_FLAGS = 0x1008040201; // bits 0, 9, 18, 27, 36
static_assert(BATCH_BITS <= REFILL_BITS, "one refill must cover a batch of literals");
static_assert(MAX_TOKEN_BITS + LOOKAHEAD_BITS <= BATCH_BITS,
              "a refill for a batch covers any token");

// The end code: length 519 (length class 15 with extra value 255), the only length that
// reaches it.
constexpr unsigned END_CODE_LENGTH = 519;
// Marks an ASCII code longer than 8 bits in awAsciiEntry.
constexpr std::uint16_t ASCII_LONG_CODE = 0xFFFF;

enum class Token {
    Literal,
    Match,
    End,
    InputEnded
};

// The hot part of the reader, kept in registers by the decode loop.
struct BitReader {
    std::uint64_t buf; // unread bits, the next one in bit 0
    unsigned count;    // valid bits in buf, 0 to 63
    unsigned inPos;    // next byte of abInBuf to load
    unsigned inBytes;  // bytes in abInBuf
};

inline std::uint64_t LoadLittleEndian64(const unsigned char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// Sets every entry j < size with j = code (mod 2^bits) to value: all the bit patterns that
// begin with the code, seen least significant bit first.
template <class Entry>
inline void FillIndex(Entry* table, unsigned size, unsigned code, unsigned bits, Entry value)
{
    for (unsigned j = code; j < size; j += 1u << bits)
        table[j] = value;
}

// A length or distance code takes one lookup that gives everything about it: the lookup of a
// token is the longest chain of loads in decoding one, and a class looked up first and its
// bit counts and base looked up behind it would make that chain twice as long.
void BuildLengthAndDistanceTables(ExplodeWork& w)
{
    using namespace codec;
    for (unsigned c = 0; c < LENGTH_CLASSES; ++c) {
        const std::uint32_t entry =
            kLenBits[c] | (kLenExtraBits[c] << 4) | ((kLenBase[c] + 2u) << 16);
        FillIndex<std::uint32_t>(w.alLenEntry, 256, kLenCodes[c], kLenBits[c], entry);
    }
    for (unsigned i = 0; i < DISTANCE_CODES; ++i) {
        const auto entry = static_cast<std::uint16_t>(kDistBits[i] | (i << 4));
        FillIndex<std::uint16_t>(w.awDistEntry, 256, kDistCodes[i], kDistBits[i], entry);
    }
}

// Most matches are a short length code (often without extra bits) and a short distance
// code: one lookup of the bits behind the flag gives all of it, so the distance lookup does
// not wait for the length's. Every combination of length code, extra value and distance code
// that fits EXPLODE_MATCH_BITS gets the entries that begin with it; the end code and longer
// combinations keep 0 and take the two lookups.
void BuildMatchTable(ExplodeWork& w)
{
    using namespace codec;
    constexpr unsigned size = 1u << EXPLODE_MATCH_BITS;
    std::fill(w.alMatchEntry, w.alMatchEntry + size, 0u);
    for (unsigned c = 0; c < LENGTH_CLASSES; ++c) {
        const unsigned lengthBits = kLenBits[c] + kLenExtraBits[c];
        if (lengthBits >= EXPLODE_MATCH_BITS)
            continue;
        for (unsigned extra = 0; extra < (1u << kLenExtraBits[c]); ++extra) {
            const unsigned length = kLenBase[c] + 2 + extra;
            if (length == END_CODE_LENGTH)
                continue;
            const unsigned lowBits = length == 2 ? 2 : w.nDictBits;
            const unsigned lengthCode = kLenCodes[c] | (extra << kLenBits[c]);
            for (unsigned d = 0; d < DISTANCE_CODES; ++d) {
                const unsigned bits = lengthBits + kDistBits[d];
                if (bits > EXPLODE_MATCH_BITS)
                    continue;
                const std::uint32_t entry =
                    (1 + bits) | (lowBits << 4) | (length << 8) | (((d << lowBits) + 1) << 16);
                FillIndex<std::uint32_t>(w.alMatchEntry, size,
                                         lengthCode | (kDistCodes[d] << lengthBits), bits, entry);
            }
        }
    }
}

// Codes of up to 8 bits decode with one lookup. A longer code is recognised by its first 8
// bits (marked ASCII_LONG_CODE) and decoded from the bits behind its first 4, 6 or 8 bits,
// whichever lookup it fits: first 8 bits all zero take awAsciiEntry8, first 6 bits zero take
// awAsciiEntry6, the rest awAsciiEntry4. Each entry holds the byte and the bits that remain
// to drop, so that a literal takes no lookup behind its last one.
void BuildAsciiTables(ExplodeWork& w)
{
    using namespace codec;
    // The byte of each pattern and the bits to drop per byte, first apart. Unused entries
    // cannot be reached by a sound stream; they are byte 0, and a damaged stream that reaches
    // one drops byte 0's bits there.
    unsigned char index[256] = {};
    unsigned char index4[256] = {};
    unsigned char index6[128] = {};
    unsigned char index8[256] = {};
    unsigned char bits[256] = {};
    constexpr unsigned char longCode = 0xFF; // no byte with a code of up to 8 bits
    for (unsigned b = ASCII_CODES; b-- > 0;) {
        const unsigned n = kAsciiBits[b];
        const unsigned c = kAsciiCodes[b];
        const auto value = static_cast<unsigned char>(b);
        bits[b] = static_cast<unsigned char>(n);
        if (n <= 8) {
            FillIndex<unsigned char>(index, sizeof index, c, n, value);
        } else if ((c & 0xFF) != 0) {
            index[c & 0xFF] = longCode;
            if ((c & 0x3F) != 0) {
                bits[b] = static_cast<unsigned char>(n - 4);
                FillIndex<unsigned char>(index4, sizeof index4, c >> 4, n - 4, value);
            } else {
                bits[b] = static_cast<unsigned char>(n - 6);
                FillIndex<unsigned char>(index6, sizeof index6, c >> 6, n - 6, value);
            }
        } else {
            bits[b] = static_cast<unsigned char>(n - 8);
            FillIndex<unsigned char>(index8, sizeof index8, c >> 8, n - 8, value);
        }
    }
    const auto entry = [&bits](unsigned char b) {
        return static_cast<std::uint16_t>(b | (bits[b] << 8));
    };
    for (unsigned j = 0; j < 256; ++j) {
        w.awAsciiEntry[j] = index[j] == longCode ? ASCII_LONG_CODE : entry(index[j]);
        w.awAsciiEntry4[j] = entry(index4[j]);
        w.awAsciiEntry8[j] = entry(index8[j]);
    }
    for (unsigned j = 0; j < 128; ++j)
        w.awAsciiEntry6[j] = entry(index6[j]);
}

// Asks the read callback for the next piece of input. Returns the bytes delivered, 0 when
// the input has ended (and from then on without asking again).
unsigned ReadInput(ExplodeWork& w)
{
    if (w.bInputEnded)
        return 0;
    w.nReadSize = EXPLODE_READ_SIZE;
    unsigned count = w.pfnRead(w.abInBuf, &w.nReadSize, w.pParam);
    // A callback that claims more than it was asked for cannot have placed it in the
    // buffer; take what fits rather than read past the buffer's end.
    if (count > EXPLODE_READ_SIZE)
        count = EXPLODE_READ_SIZE;
    if (count == 0)
        w.bInputEnded = true;
    w.nBytesRead += count;
    return count;
}

// Loads the input byte by byte, reading more input when the buffer is used up, until the
// bit buffer holds `bits` bits. Returns false when the input ends first. The reader's
// state is passed through the work area, so the decode loop's copy stays in registers.
[[gnu::noinline]] bool FillFromInput(ExplodeWork& w, unsigned bits)
{
    for (;;) {
        while (w.nInPos < w.nInBytes && w.nBitCount < REFILL_BITS) {
            w.nBitBuf |= std::uint64_t{w.abInBuf[w.nInPos++]} << w.nBitCount;
            w.nBitCount += 8;
        }
        if (w.nBitCount >= bits)
            return true;
        const unsigned count = ReadInput(w);
        if (count == 0)
            return false;
        w.nInBytes = count;
        w.nInPos = 0;
    }
}

// Makes at least `bits` bits (at most REFILL_BITS) available. Returns false when the input
// ends first; what is in the buffer stays valid.
inline bool Fill(ExplodeWork& w, BitReader& r, unsigned bits)
{
    if (r.inBytes - r.inPos >= 8) {
        // Eight bytes at once; the bytes that do not fit whole are loaded again next time.
        r.buf |= LoadLittleEndian64(w.abInBuf + r.inPos) << r.count;
        r.inPos += (63 - r.count) >> 3;
        r.count |= REFILL_BITS;
        return true;
    }
    w.nBitBuf = r.buf;
    w.nBitCount = r.count;
    w.nInPos = r.inPos;
    w.nInBytes = r.inBytes;
    const bool ok = FillFromInput(w, bits);
    r.buf = w.nBitBuf;
    r.count = w.nBitCount;
    r.inPos = w.nInPos;
    r.inBytes = w.nInBytes;
    return ok;
}

// True when n bits can be dropped with the next LOOKAHEAD_BITS still behind them. Without
// kChecked the caller has made sure of that for the whole token.
template <bool kChecked>
inline bool CanDrop(ExplodeWork& w, BitReader& r, unsigned n)
{
    return !kChecked || r.count >= n + LOOKAHEAD_BITS || Fill(w, r, n + LOOKAHEAD_BITS);
}

inline unsigned Peek(const BitReader& r, unsigned n)
{
    return static_cast<unsigned>(r.buf) & ((1u << n) - 1u);
}

inline void Drop(BitReader& r, unsigned n)
{
    r.buf >>= n;
    r.count -= n;
}

// Decodes an ASCII literal; the flag bit is already dropped. Returns false when the input
// ends inside it.
template <bool kChecked>
inline bool DecodeAsciiLiteral(ExplodeWork& w, BitReader& r, unsigned& byte)
{
    const unsigned low = Peek(r, 8);
    unsigned e;
    if (low != 0) {
        e = w.awAsciiEntry[low];
        if (e == ASCII_LONG_CODE) {
            if ((low & 0x3F) != 0) {
                if (!CanDrop<kChecked>(w, r, 4))
                    return false;
                Drop(r, 4);
                e = w.awAsciiEntry4[Peek(r, 8)];
            } else {
                if (!CanDrop<kChecked>(w, r, 6))
                    return false;
                Drop(r, 6);
                e = w.awAsciiEntry6[Peek(r, 7)];
            }
        }
    } else {
        if (!CanDrop<kChecked>(w, r, 8))
            return false;
        Drop(r, 8);
        e = w.awAsciiEntry8[Peek(r, 8)];
    }
    const unsigned rest = e >> 8;
    if (!CanDrop<kChecked>(w, r, rest))
        return false;
    Drop(r, rest);
    byte = e & 0xFF;
    return true;
}

// Decodes one token: a literal (value = the byte), a match (value = its length, distance in
// *distance), the end code (value = its extra bits, left in the buffer), or the end of the
// input before the token was complete.
// kChecked: the bit buffer may hold less than a whole token and its lookahead, so every
// drop makes sure of its bits first.
template <bool kAscii, bool kChecked>
inline Token DecodeToken(ExplodeWork& w, BitReader& r, unsigned dictBits, unsigned& value,
                         unsigned& distance)
{
    if (!CanDrop<kChecked>(w, r, 1))
        return Token::InputEnded;
    if ((r.buf & 1) == 0) {
        if (!kAscii) {
            if (!CanDrop<kChecked>(w, r, 1 + 8))
                return Token::InputEnded;
            value = static_cast<unsigned>(r.buf >> 1) & 0xFF;
            Drop(r, 1 + 8);
            return Token::Literal;
        }
        Drop(r, 1);
        return DecodeAsciiLiteral<kChecked>(w, r, value) ? Token::Literal : Token::InputEnded;
    }

    Drop(r, 1);
    const std::uint32_t lengthEntry = w.alLenEntry[Peek(r, 8)];
    const unsigned codeBits = lengthEntry & 0xF;
    const unsigned extraBits = (lengthEntry >> 4) & 0xF;
    if (!CanDrop<kChecked>(w, r, codeBits))
        return Token::InputEnded;
    Drop(r, codeBits);
    const unsigned length = (lengthEntry >> 16) + Peek(r, extraBits); // extraBits may be 0
    if (length == END_CODE_LENGTH) {
        // Its extra bits, from which the length was read, stay for the caller (value).
        value = extraBits;
        return Token::End;
    }
    if (!CanDrop<kChecked>(w, r, extraBits))
        return Token::InputEnded;
    Drop(r, extraBits);

    // Distance: its code, then the low bits (2 for a length-2 match, else k) as they stand.
    const unsigned distEntry = w.awDistEntry[Peek(r, 8)];
    const unsigned distBits = distEntry & 0xF;
    const unsigned lowBits = length == 2 ? 2 : dictBits;
    if (!CanDrop<kChecked>(w, r, distBits + lowBits))
        return Token::InputEnded;
    Drop(r, distBits);
    distance = ((distEntry >> 4) << lowBits) + Peek(r, lowBits) + 1;
    Drop(r, lowBits);
    value = length;
    return Token::Match;
}

// Copies a match of `length` bytes from `distance` bytes back, byte for byte in effect:
// a distance below the length repeats the bytes the copy itself produces. Stores up to 15
// bytes past the end, which the window's slack takes and later output overwrites.
inline void CopyMatch(unsigned char* dst, unsigned distance, unsigned length)
{
    const unsigned char* src = dst - distance;
    unsigned char* const end = dst + length;
    if (distance >= 16) {
        // Most matches are short: sixteen bytes are copied whatever the length, and only a
        // longer match takes the loop, whose end (a length no branch predicts) the others
        // never reach.
        std::memcpy(dst, src, 16);
        if (length > 16) {
            dst += 16;
            src += 16;
            do {
                std::memcpy(dst, src, 16);
                dst += 16;
                src += 16;
            } while (dst < end);
        }
        return;
    }
    if (distance < 8) {
        // The bytes repeat with period `distance`, so any multiple of it is as good a
        // distance. Copy singly until the copy is a multiple of at least 8 bytes behind.
        unsigned wide = distance;
        while (wide < 8)
            wide += distance;
        unsigned char* const singlesEnd = dst + (wide - distance);
        while (dst < singlesEnd && dst < end)
            *dst++ = *src++;
        src = dst - wide;
    }
    while (dst < end) {
        std::memcpy(dst, src, 8);
        dst += 8;
        src += 8;
    }
}

#include "codec/explode_literalruns.h"

// Decodes steps of eight binary literals while the input buffer holds them and their
// lookahead and the production area has room. A step whose flags show a match takes the
// literals before it; a match followed by more literals is decoded here too and the run goes
// on behind it, anything else ends the run. Nothing here calls the read callback. Leaves the
// reader at the first bit not decoded; returns false when not one token was taken.
inline bool DecodeLiteralRun(ExplodeWork& w, BitReader& r, unsigned dictBits, unsigned char* window,
                             unsigned& outPos, [[maybe_unused]] bool ssse3)
{
    if (r.inPos * 8 < r.count)
        return false; // some bits in the buffer came from the previous read
    const unsigned firstBit = r.inPos * 8 - r.count;
    unsigned nextBit = firstBit;
    unsigned out = outPos;
    const unsigned char* const in = w.abInBuf;
    const unsigned outEnd = EXPLODE_HISTORY + EXPLODE_PRODUCTION;
    for (;;) {
        const unsigned offset = nextBit & 7; // the same in every step: a step is 9 whole bytes
        unsigned byte = nextBit >> 3;
        unsigned flags = 0;
        // Pairs of steps while both fit in the input and the window, then single steps.
        if (byte + RUN_STEP_BYTES + RUN_LOAD_BYTES <= r.inBytes &&
            out + 2 * RUN_LITERALS <= outEnd) {
            const unsigned pairs =
                std::min((r.inBytes - byte - RUN_STEP_BYTES - RUN_LOAD_BYTES) /
                             (2 * RUN_STEP_BYTES),
                         (outEnd - out - 2 * RUN_LITERALS) / (2 * RUN_LITERALS)) +
                1;
#if defined(EXPLODE_RUN_SSSE3)
            flags = ssse3 ? UnpackRunPairsSsse3(in, offset, window, byte, out, pairs)
                          : UnpackRunPairs(in, offset, window, byte, out, pairs);
#else
            flags = UnpackRunPairs(in, offset, window, byte, out, pairs);
#endif
        }
        while (flags == 0 && byte + RUN_LOAD_BYTES <= r.inBytes && out + RUN_LITERALS <= outEnd) {
            flags = UnpackRunSteps<1>(in + byte, offset, window + out);
            if (flags != 0)
                break;
            out += RUN_LITERALS;
            byte += RUN_STEP_BYTES;
        }
        if (flags == 0) {
            nextBit = byte * 8 + offset;
            break;
        }
        // The literals before the first match flag count.
        const unsigned literals = static_cast<unsigned>(__builtin_ctz(flags)) / RUN_MASK_BITS;
        out += literals;
        nextBit = byte * 8 + offset + literals * BINARY_LITERAL_BITS;
        // The match is decoded here when it, its lookahead and the next five flags lie in the
        // buffer's next 8 bytes, it is no end code and five literals follow it (as on
        // incompressible data, where matches are few); otherwise the token decoder takes it.
        if ((nextBit >> 3) + 8 > r.inBytes)
            break;
        const unsigned available = 64 - (nextBit & 7);
        BitReader token{LoadLittleEndian64(in + (nextBit >> 3)) >> (nextBit & 7), available, 0, 0};
        unsigned length = 0;
        unsigned distance = 0;
        if (DecodeToken<false, false>(w, token, dictBits, length, distance) != Token::Match)
            break;
        const unsigned afterMatch = nextBit + available - token.count;
        if ((afterMatch >> 3) + 8 > r.inBytes ||
            ((LoadLittleEndian64(in + (afterMatch >> 3)) >> (afterMatch & 7)) & BATCH_FLAGS) != 0)
            break;
        CopyMatch(window + out, distance, length);
        out += length;
        nextBit = afterMatch;
    }
    if (nextBit == firstBit)
        return false;
    outPos = out;
    r.inPos = nextBit >> 3;
    if (r.inBytes - r.inPos >= 8) {
        // Seven bytes, as a refill would load them.
        r.buf = LoadLittleEndian64(in + r.inPos) & (~std::uint64_t{0} >> 8);
        r.count = REFILL_BITS;
        r.inPos += REFILL_BITS / 8;
    } else {
        r.buf = 0;
        r.count = 0;
        while (r.inPos < r.inBytes && r.count < REFILL_BITS) {
            r.buf |= std::uint64_t{in[r.inPos++]} << r.count;
            r.count += 8;
        }
    }
    Drop(r, nextBit & 7);
    return true;
}

// DecodeLiteralRun on copies of the reader and the output position: the decode loop's own
// never have their address taken, so they stay in registers.
inline bool DecodeLiteralRunOf(ExplodeWork& w, BitReader& r, unsigned dictBits,
                               unsigned char* window, unsigned& outPos, bool ssse3)
{
    BitReader reader = r;
    unsigned out = outPos;
    if (!DecodeLiteralRun(w, reader, dictBits, window, out, ssse3))
        return false;
    r = reader;
    outPos = out;
    return true;
}

template <bool kAscii>
unsigned DecodeStream(ExplodeWork& w)
{
    BitReader r{0, 0, 2, w.nInBytes}; // the two header bytes are read
    unsigned char* const window = w.abWindow;
    const unsigned dictBits = w.nDictBits;
    unsigned outPos = EXPLODE_HISTORY;
    unsigned pieceStart = EXPLODE_HISTORY; // the first byte not yet written
    unsigned result = CODEC_OK;
#if defined(EXPLODE_RUN_SSSE3)
    const bool ssse3 = !kAscii && CpuHasSsse3();
#else
    const bool ssse3 = false;
#endif

    for (;;) {
        // With eight bytes at hand the buffer is topped up before every token, full or not:
        // that costs less than the branch on its count, which tokens of every size make
        // hard to predict. (A full buffer takes no byte.)
        if (r.inBytes - r.inPos >= 8)
            Fill(w, r, BATCH_BITS);

        // Binary literals come before the match that ends them, so that the count of literals
        // is data, not a branch: runs of one literal and then a match (text, code) would
        // otherwise make the choice between a literal and a match one that no prediction
        // gets right.
        bool matchNext = true;
        if (!kAscii && r.count >= BATCH_BITS) {
            const std::uint64_t bits = r.buf;
            const std::uint64_t matchFlags = bits & BATCH_FLAGS;
            if (matchFlags == 0) {
                // Five literals or more: a run of eights from the input buffer, or five at once.
                matchNext = false;
                if (!DecodeLiteralRunOf(w, r, dictBits, window, outPos, ssse3)) {
                    for (unsigned i = 0; i < BATCH_LITERALS; ++i)
                        window[outPos + i] =
                            static_cast<unsigned char>(bits >> (BINARY_LITERAL_BITS * i + 1));
                    outPos += BATCH_LITERALS;
                    Drop(r, BATCH_LITERALS * BINARY_LITERAL_BITS);
                }
            } else {
                // Zero to four literals, as many as lie before the first match flag; all four
                // are stored, and the match overwrites what was not a literal.
                const unsigned flagPos = static_cast<unsigned>(__builtin_ctzll(matchFlags));
                for (unsigned i = 0; i < EXPLODE_LITERALS_BEFORE_MATCH; ++i)
                    window[outPos + i] =
                        static_cast<unsigned char>(bits >> (BINARY_LITERAL_BITS * i + 1));
                static_assert(BATCH_LITERALS * BINARY_LITERAL_BITS * 57 >> 9 == BATCH_LITERALS,
                              "x * 57 >> 9 is x / 9");
                outPos += flagPos * 57 >> 9;
                Drop(r, flagPos);
                if (r.inBytes - r.inPos >= 8)
                    Fill(w, r, BATCH_BITS);
            }
        }

        // A match whose codes one lookup decodes, with the whole token in the buffer; 0 for
        // any other token.
        const std::uint32_t matchEntry =
            matchNext && (r.buf & 1) != 0 && r.count >= MAX_TOKEN_BITS + LOOKAHEAD_BITS
                ? w.alMatchEntry[(r.buf >> 1) & ((1u << EXPLODE_MATCH_BITS) - 1)]
                : 0;
        if (!matchNext) {
            // The literals were all of this step.
        } else if (matchEntry != 0) {
            const unsigned lowBits = (matchEntry >> 4) & 0xF;
            Drop(r, matchEntry & 0xF);
            const unsigned distance = (matchEntry >> 16) + Peek(r, lowBits);
            Drop(r, lowBits);
            const unsigned length = (matchEntry >> 8) & 0xFF;
            CopyMatch(window + outPos, distance, length);
            outPos += length;
        } else {
            // Any other token (an ASCII literal, a longer match, the end code, a token near the
            // end of the input). With a whole token and its lookahead in the buffer no drop
            // can fail.
            unsigned value = 0;
            unsigned distance = 0;
            const Token token = r.count >= MAX_TOKEN_BITS + LOOKAHEAD_BITS
                                    ? DecodeToken<kAscii, false>(w, r, dictBits, value, distance)
                                    : DecodeToken<kAscii, true>(w, r, dictBits, value, distance);
            if (token == Token::Literal) {
                window[outPos++] = static_cast<unsigned char>(value);
            } else if (token == Token::Match) {
                CopyMatch(window + outPos, distance, value);
                outPos += value;
            } else if (token == Token::End) {
                // All the end code's bits are in the buffer; the stream normally ends behind
                // them, so a refill that finds no input here is the normal end.
                w.nEndBits = (w.nBytesRead - (r.inBytes - r.inPos)) * 8 - r.count + value;
                if (CanDrop<true>(w, r, value))
                    Drop(r, value);
                break;
            } else {
                result = CODEC_STREAM_ENDED;
                break;
            }
        }

        // A step adds less than a piece, so at most one piece is full.
        if (outPos >= pieceStart + EXPLODE_PIECE) {
            unsigned size = EXPLODE_PIECE;
            w.pfnWrite(window + pieceStart, &size, w.pParam);
            pieceStart += EXPLODE_PIECE;
            if (pieceStart == EXPLODE_HISTORY + EXPLODE_PRODUCTION) {
                // The last piece becomes the history; a match's overrun moves along with it.
                std::memmove(window, window + EXPLODE_PRODUCTION, outPos - EXPLODE_PRODUCTION);
                outPos -= EXPLODE_PRODUCTION;
                pieceStart = EXPLODE_HISTORY;
            }
        }
    }

    // A step that ends the stream (literals, then the end code or the input's end) leaves the
    // loop before its piece check: a whole piece may still be due before the shorter rest.
    while (outPos - pieceStart >= EXPLODE_PIECE) {
        unsigned size = EXPLODE_PIECE;
        w.pfnWrite(window + pieceStart, &size, w.pParam);
        pieceStart += EXPLODE_PIECE;
    }
    unsigned size = outPos - pieceStart;
    w.pfnWrite(window + pieceStart, &size, w.pParam);
    w.nOutPos = outPos;
    w.nBitBuf = r.buf;
    w.nBitCount = r.count;
    w.nInPos = r.inPos;
    w.nInBytes = r.inBytes;
    return result;
}

} // namespace

unsigned explode(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork, void* pParam)
{
    ExplodeWork& w = *new (pWork) ExplodeWork;
    w.pfnRead = pfnRead;
    w.pfnWrite = pfnWrite;
    w.pParam = pParam;
    w.bInputEnded = false;
    w.nBytesRead = 0;
    w.nEndBits = 0;
    w.nInPos = 0;
    w.nInBytes = ReadInput(w);
    if (w.nInBytes <= 4)
        return CODEC_TOO_SHORT;

    w.nType = w.abInBuf[0];
    w.nDictBits = w.abInBuf[1];
    if (w.nDictBits < 4 || w.nDictBits > 6)
        return CODEC_BAD_DICT_SIZE;
    w.nDictMask = 0xFFFFu >> (16 - w.nDictBits);
    if (w.nType == CODEC_ASCII)
        BuildAsciiTables(w);
    else if (w.nType != CODEC_BINARY)
        return CODEC_BAD_TYPE;
    BuildLengthAndDistanceTables(w);
    BuildMatchTable(w);

    // Only a damaged stream reaches before the first output byte; it must find zeros there,
    // not what an earlier job left in the shared work area.
    std::memset(w.abWindow, 0, EXPLODE_HISTORY);
    w.nBitBuf = 0;
    w.nBitCount = 0;
    return w.nType == CODEC_ASCII ? DecodeStream<true>(w) : DecodeStream<false>(w);
}

std::uint64_t ExplodeEndCodeBits(const void* pWork)
{
    return std::launder(static_cast<const ExplodeWork*>(pWork))->nEndBits;
}
