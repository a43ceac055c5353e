// The compressor on several threads.
//
// The input is cut into segments of whole blocks. Worker threads parse each segment on its
// own, as if the previous segment's last match had ended exactly at the previous block's
// limit; the caller's thread reads the input, joins the segments in order and writes the
// stream. The bytes are those of implode() because of what a block's tokens depend on (see
// implode_coder.h):
//
//   - Within a block, the tokens from a position on are fixed by that position. A segment's
//     first block really starts 0 to 515 bytes later than the worker assumed (the true
//     parse's last match may run past the limit). The worker marks where each token of that
//     block starts and at which bit; the join parses the block again from the true start, in
//     a window of its own, until the true parse stands on a marked position. From there on
//     the worker's bits are the stream's: they are appended, bit-shifted, behind the true
//     tokens. The two parses mostly meet within a few tokens. If they do not meet in the
//     first block (a long run of one byte, coded in 516-byte matches that keep their
//     offset), the join parses the segment's blocks itself until one starts where the
//     worker's did, at one thread's speed.
//   - The sort range starts at the cursor minus the dictionary, so where a block starts
//     changes none of its searches, except in the first two blocks: a segment starts at the
//     first block (where the true start is known) or at the third or later.
//   - The last block (the one the input ends in) is coded on the caller's thread in the
//     caller's work area, after the block before it has been loaded and triple-sorted there
//     from its true start and the window slid, just as implode() leaves them: a comparison
//     at the end of the input reads window bytes behind the input (the previous block's,
//     or bytes the call never writes), and the pair sort hashes the byte behind the limit,
//     which can be the low byte of the previous block's first sorted position.
//
// Memory: a ring of 2 * threads + 2 segment buffers (input with the bytes the segment's
// windows need before it, room for the bits of its tokens and the marks of its first block),
// one work area per thread and one for the join. None of it grows with the input.
#include "codec/implode_parallel.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "codec/implode.h"
#include "codec/implode_bits.h"
#include "codec/implode_coder.h"

namespace codec {
namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "bits are stored and loaded as little-endian words");

// The most bytes of bits one block's tokens take: a block's tokens start at no more than
// IMPLODE_BLOCK_SIZE positions and cover at most IMPLODE_LOOKAHEAD - 1 more, at no more
// than 15 bits a byte.
constexpr std::size_t BLOCK_BITS_BYTES = ((IMPLODE_BLOCK_SIZE + IMPLODE_LOOKAHEAD) * 15 + 7) / 8;
static_assert(IMPLODE_MAX_TOKEN_BITS <= 2 * 15, "a match covers 2 bytes or more");
// Room behind a buffer for a word stored or loaded at its last byte.
constexpr std::size_t BUFFER_SLACK = 8;

// Window position 0 of a block as an input offset (negative for the first two blocks).
std::int64_t WindowOrigin(std::uint64_t block, unsigned dictSize)
{
    return static_cast<std::int64_t>(block * IMPLODE_BLOCK_SIZE) - IMPLODE_LOOKAHEAD - dictSize;
}

// Where a token of a segment's first block starts (window position) and its first bit,
// counted from the block's first bit.
struct TokenMark {
    std::uint32_t pos;
    std::uint32_t bit;
};

// The bits of a segment's tokens, gathered like ImplodeBitWriter does (the low 32 bits of the
// accumulator stored each time, the position moved on when they are complete), into a buffer
// large enough for the whole segment.
class SegmentBits {
public:
    explicit SegmentBits(std::uint8_t* buffer) : m_pBuf(buffer) {}

    void Put(std::uint32_t value, unsigned bits)
    {
        m_nAcc |= static_cast<std::uint64_t>(value) << m_nBits;
        m_nBits += bits;
        const auto low = static_cast<std::uint32_t>(m_nAcc);
        std::memcpy(m_pBuf + m_nPos, &low, 4);
        const unsigned full = m_nBits >> 5;
        m_nPos += 4 * full;
        m_nAcc >>= 32 * full;
        m_nBits -= 32 * full;
    }

    std::uint64_t Count() const { return std::uint64_t{m_nPos} * 8 + m_nBits; }

    // Stores the bits still in the accumulator (the bits above them are zero), and a word of
    // zeros behind them: the buffer is not cleared beforehand, and a join loads up to 8 bytes
    // from the byte that holds its last bit (see AppendBits), so every byte it loads has
    // been written.
    void Flush()
    {
        const std::uint64_t zero = 0;
        std::memcpy(m_pBuf + m_nPos, &m_nAcc, 8);
        std::memcpy(m_pBuf + m_nPos + 8, &zero, 8);
    }

private:
    std::uint8_t* m_pBuf;
    std::size_t m_nPos = 0;
    std::uint64_t m_nAcc = 0;
    unsigned m_nBits = 0;
};

// The sink of a segment's first block: the bits go to the segment's, and each token's start
// and first bit (counted from the block's first) into marks, which has room for one token per
// position of a block.
class MarkedSegmentBits {
public:
    MarkedSegmentBits(SegmentBits& bits, TokenMark* marks)
        : m_bits(bits), m_pMarks(marks), m_nBase(bits.Count())
    {
    }

    void Mark(unsigned pos)
    {
        m_pMarks[m_nMarks++] = TokenMark{pos, static_cast<std::uint32_t>(m_bits.Count() - m_nBase)};
    }
    void Put(std::uint32_t value, unsigned bits) { m_bits.Put(value, bits); }
    std::size_t Marks() const { return m_nMarks; }

private:
    SegmentBits& m_bits;
    TokenMark* m_pMarks;
    std::uint64_t m_nBase;
    std::size_t m_nMarks = 0;
};

// One segment: its input, and what a worker made of it.
struct Segment {
    std::uint64_t firstBlock = 0;
    unsigned blocks = 0;    // whole blocks to parse; none is the input's last block
    std::uint64_t base = 0; // input offset of input[0]: the window of the block before the first
    std::unique_ptr<std::uint8_t[]> input;
    std::unique_ptr<std::uint8_t[]> bits;
    // Per block and once more for the segment's end: where the worker's parse started the block
    // (input offset) and its first bit; the last entries are where it stopped.
    std::vector<std::uint64_t> cursor;
    std::vector<std::uint64_t> bitStart;
    // The tokens of the first block, in order.
    std::unique_ptr<TokenMark[]> marks;
    std::size_t markCount = 0;
    bool parsed = false; // guarded by the pool's mutex
};

// Copies a block's window, as far as the input has it, from the segment into the work area.
void LoadWindow(ImplodeWork& work, const Segment& s, std::uint64_t block, unsigned dictSize,
                std::uint64_t to)
{
    const std::int64_t origin = WindowOrigin(block, dictSize);
    const std::uint64_t from =
        origin > static_cast<std::int64_t>(s.base) ? static_cast<std::uint64_t>(origin) : s.base;
    std::memcpy(work.abWindow + (static_cast<std::int64_t>(from) - origin),
                s.input.get() + (from - s.base), to - from);
}

// Parses a segment's blocks from the segment's assumed start: the input's first byte for the
// first segment, else the limit of the block before it.
void ParseSegment(Segment& s, ImplodeWork& work)
{
    const unsigned dictSize = work.nDictSize;
    SegmentBits sink(s.bits.get());
    MarkedSegmentBits marked(sink, s.marks.get());
    // Each block is sorted anew, so the two coders may take turns on the one work area.
    ImplodeTokenCoder<MarkedSegmentBits> firstCoder(work, marked);
    ImplodeTokenCoder<SegmentBits> coder(work, sink);
    std::uint64_t cursor =
        s.firstBlock == 0 ? 0 : s.firstBlock * IMPLODE_BLOCK_SIZE - IMPLODE_LOOKAHEAD;
    const unsigned limit = dictSize + IMPLODE_BLOCK_SIZE;
    for (unsigned j = 0; j < s.blocks; ++j) {
        const std::uint64_t block = s.firstBlock + j;
        const std::int64_t origin = WindowOrigin(block, dictSize);
        LoadWindow(work, s, block, dictSize, (block + 1) * IMPLODE_BLOCK_SIZE);
        const auto p = static_cast<unsigned>(static_cast<std::int64_t>(cursor) - origin);
        s.cursor[j] = cursor;
        s.bitStart[j] = sink.Count();
        unsigned end;
        if (j == 0) {
            firstCoder.Sort(ImplodeSortFirst(block, p, dictSize), limit, false);
            end = firstCoder.Code(p, limit, false);
            s.markCount = marked.Marks();
        } else {
            // The second block's filters follow from the first block's searches.
            if (j == 1)
                coder.TakeSearchCounts(firstCoder);
            // The window is loaded anew, with the bytes the slid window would hold; this
            // coder's last sort was of the block before, except for the segment's second.
            coder.Sort(ImplodeSortFirst(block, p, dictSize), limit, false, j > 1);
            end = coder.Code(p, limit, false);
        }
        cursor = static_cast<std::uint64_t>(origin + end);
    }
    s.cursor[s.blocks] = cursor;
    s.bitStart[s.blocks] = sink.Count();
    sink.Flush();
}

// Appends bits [from, to) of a little-endian bit buffer (readable 8 bytes past to) to the
// stream.
void AppendBits(ImplodeBitWriter& out, const std::uint8_t* bits, std::uint64_t from,
                std::uint64_t to)
{
    while (from < to) {
        std::uint64_t word;
        std::memcpy(&word, bits + from / 8, 8);
        word >>= from % 8;
        const unsigned n = to - from < 32 ? static_cast<unsigned>(to - from) : 32;
        const std::uint32_t mask = n == 32 ? 0xFFFFFFFFu : (1u << n) - 1;
        out.Put(static_cast<std::uint32_t>(word) & mask, n);
        from += n;
    }
}

// Joins the segments, in order, into the stream: finds where the true parse meets each
// segment's parse (see the top of this file) and appends the segment's bits from there.
class Joiner {
public:
    Joiner(ImplodeWork& work, ImplodeBitWriter& out, ImplodeParallelStats& stats)
        : m_out(out), m_true(work, out), m_work(work), m_stats(stats), m_nDictSize(work.nDictSize)
    {
    }

    void Join(const Segment& s)
    {
        ++m_stats.segments;
        const unsigned limit = m_nDictSize + IMPLODE_BLOCK_SIZE;
        std::uint64_t from = s.bitStart[s.blocks]; // nothing of the segment, unless they meet
        bool met = false;
        for (unsigned j = 0; j <= s.blocks; ++j) {
            if (m_nCursor == s.cursor[j]) {
                from = s.bitStart[j];
                met = j < s.blocks;
                if (met)
                    m_nLastBlockStart = s.cursor[s.blocks - 1];
                break;
            }
            if (j == s.blocks)
                break;
            if (j == 0)
                ++m_stats.seamsParsedAgain;
            ++m_stats.blocksParsedAgain;
            // The true tokens go straight to the stream.
            const std::uint64_t block = s.firstBlock + j;
            const std::int64_t origin = WindowOrigin(block, m_nDictSize);
            LoadWindow(m_work, s, block, m_nDictSize, (block + 1) * IMPLODE_BLOCK_SIZE);
            auto a = static_cast<unsigned>(static_cast<std::int64_t>(m_nCursor) - origin);
            m_true.Sort(ImplodeSortFirst(block, a, m_nDictSize), limit, false);
            m_nLastBlockStart = m_nCursor;
            if (j > 0) {
                a = m_true.Code(a, limit, false);
                m_nCursor = static_cast<std::uint64_t>(origin + a);
                continue;
            }
            // In the first block, up to each marked token start in turn.
            std::size_t i = 0;
            for (;;) {
                while (i < s.markCount && s.marks[i].pos < a)
                    ++i;
                if (i < s.markCount && s.marks[i].pos == a) {
                    from = s.bitStart[0] + s.marks[i].bit;
                    met = true;
                    break;
                }
                if (a >= limit)
                    break;
                a = m_true.Code(a, limit, false, i < s.markCount ? s.marks[i].pos : limit);
            }
            if (met) {
                if (s.blocks > 1)
                    m_nLastBlockStart = s.cursor[s.blocks - 1];
                break;
            }
            m_nCursor = static_cast<std::uint64_t>(origin + a);
        }
        AppendBits(m_out, s.bits.get(), from, s.bitStart[s.blocks]);
        if (met)
            m_nCursor = s.cursor[s.blocks];
    }

    // Where the true parse stands: the start of the next block to join.
    std::uint64_t Cursor() const { return m_nCursor; }
    // Where the true parse started the last block joined.
    std::uint64_t LastBlockStart() const { return m_nLastBlockStart; }

private:
    ImplodeBitWriter& m_out;
    ImplodeTokenCoder<ImplodeBitWriter> m_true;
    ImplodeWork& m_work;
    ImplodeParallelStats& m_stats;
    unsigned m_nDictSize;
    std::uint64_t m_nCursor = 0;
    std::uint64_t m_nLastBlockStart = 0;
};

// Worker threads that parse the segments handed to them, each in its own work area.
class WorkerPool {
public:
    WorkerPool(std::vector<std::unique_ptr<CodecWorkArea>>& areas, std::size_t queueSize)
        : m_areas(areas), m_queue(queueSize)
    {
    }

    ~WorkerPool() { Stop(); }

    // Starts the threads; false when not even one could be started (the caller then parses
    // on its own thread).
    bool Start()
    {
        for (auto& area : m_areas) {
            try {
                m_threads.emplace_back(&WorkerPool::Work, this,
                                       std::ref(*reinterpret_cast<ImplodeWork*>(area->bytes)));
            } catch (const std::system_error&) {
                break;
            }
        }
        return !m_threads.empty();
    }

    void Submit(Segment& s)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            s.parsed = false;
            m_queue[m_nTail++ % m_queue.size()] = &s;
        }
        m_workReady.notify_one();
    }

    void WaitParsed(const Segment& s)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_parsed.wait(lock, [&] { return s.parsed; });
    }

    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStop = true;
        }
        m_workReady.notify_all();
        for (auto& t : m_threads)
            t.join();
        m_threads.clear();
    }

private:
    void Work(ImplodeWork& work)
    {
        for (;;) {
            Segment* s;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_workReady.wait(lock, [&] { return m_bStop || m_nHead != m_nTail; });
                if (m_nHead == m_nTail)
                    return;
                s = m_queue[m_nHead++ % m_queue.size()];
            }
            ParseSegment(*s, work);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                s->parsed = true;
            }
            m_parsed.notify_all();
        }
    }

    std::vector<std::unique_ptr<CodecWorkArea>>& m_areas;
    std::vector<Segment*> m_queue;
    std::size_t m_nHead = 0;
    std::size_t m_nTail = 0;
    bool m_bStop = false;
    std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_parsed;
    std::vector<std::thread> m_threads;
};

// Reads one block of the input into dest as implode() does: IMPLODE_BLOCK_SIZE bytes, asking
// again for the rest after a short count, until the block is full or a read returns 0.
unsigned ReadBlock(CodecReadFn read, void* param, std::uint8_t* dest, bool& ended)
{
    unsigned gathered = 0;
    while (gathered < IMPLODE_BLOCK_SIZE) {
        const unsigned wanted = IMPLODE_BLOCK_SIZE - gathered;
        unsigned size = wanted;
        unsigned got = read(dest + gathered, &size, param);
        if (got == 0) {
            ended = true;
            break;
        }
        if (got > wanted)
            got = wanted;
        gathered += got;
    }
    return gathered;
}

class ParallelCompressor {
public:
    ParallelCompressor(ImplodeWork& work, CodecReadFn read, CodecWriteFn write, void* param,
                       unsigned threads, unsigned segmentBlocks, ImplodeParallelStats& stats)
        : m_work(work),
          m_pfnRead(read),
          m_pParam(param),
          m_nSegmentBlocks(segmentBlocks),
          m_nDictSize(work.nDictSize),
          m_out(work.abOutBuf, write, param),
          m_stats(stats)
    {
        // Everything is allocated here, before the first read: if it fails, implode() runs.
        // The segment buffers (some 5 MB for two threads) are not cleared: every byte is
        // written before it is read, and clearing them would touch all their pages, which
        // costs a short input more time than its compression (most of the bits buffers are
        // never used).
        const std::size_t inputBytes =
            IMPLODE_WINDOW_SIZE + std::size_t{segmentBlocks} * IMPLODE_BLOCK_SIZE + BUFFER_SLACK;
        // The slack twice: for the word of zeros SegmentBits::Flush stores.
        const std::size_t bitBytes =
            std::size_t{segmentBlocks} * BLOCK_BITS_BYTES + 2 * BUFFER_SLACK;
        m_segments.resize(2 * std::size_t{threads} + 2);
        for (Segment& s : m_segments) {
            s.input.reset(new std::uint8_t[inputBytes]);
            s.bits.reset(new std::uint8_t[bitBytes]);
            s.cursor.resize(segmentBlocks + 1);
            s.bitStart.resize(segmentBlocks + 1);
            s.marks.reset(new TokenMark[IMPLODE_BLOCK_SIZE]);
        }
        for (unsigned i = 0; i < threads + 1; ++i) {
            auto area = std::make_unique<CodecWorkArea>();
            ImplodeSetUp(*reinterpret_cast<ImplodeWork*>(area->bytes), work.nType, work.nDictSize);
            m_areas.push_back(std::move(area));
        }
        // The last is the join's.
        m_joinArea = std::move(m_areas[threads]);
        m_areas.resize(threads);
        m_carry = std::make_unique<std::uint8_t[]>(IMPLODE_WINDOW_SIZE);
        m_pool = std::make_unique<WorkerPool>(m_areas, m_segments.size());
    }

    void Run();

private:
    Segment& Slot(std::uint64_t index) { return m_segments[index % m_segments.size()]; }
    bool ReadSegment(Segment& s, std::uint64_t firstBlock);
    void Submit(Segment& s, bool ended);
    void CodeLastBlock(const Segment& s);

    ImplodeWork& m_work;
    CodecReadFn m_pfnRead;
    void* m_pParam;
    unsigned m_nSegmentBlocks;
    unsigned m_nDictSize;
    ImplodeBitWriter m_out;
    std::vector<Segment> m_segments;
    std::vector<std::unique_ptr<CodecWorkArea>> m_areas;
    std::unique_ptr<CodecWorkArea> m_joinArea;
    ImplodeParallelStats& m_stats;
    std::unique_ptr<WorkerPool> m_pool;
    bool m_bThreadsTried = false;
    bool m_bThreads = false;
    // The last IMPLODE_WINDOW_SIZE bytes read (fewer at the start), ending at m_nRead.
    std::unique_ptr<std::uint8_t[]> m_carry;
    std::uint64_t m_nRead = 0;
    // The block the input ends in and its bytes.
    std::uint64_t m_nLastBlock = 0;
    unsigned m_nLastGathered = 0;
    // Where the true parse started the block before the last, and the last block.
    std::uint64_t m_lastBlockStart = 0;
    std::uint64_t m_lastCursor = 0;
};

// Fills a segment from firstBlock on: the bytes before it that its windows need (from the
// carry), then up to m_nSegmentBlocks blocks. Returns true when the input ended; the block it
// ended in is then not one of the segment's blocks.
bool ParallelCompressor::ReadSegment(Segment& s, std::uint64_t firstBlock)
{
    const std::int64_t before = WindowOrigin(firstBlock == 0 ? 0 : firstBlock - 1, m_nDictSize);
    s.firstBlock = firstBlock;
    s.base = before > 0 ? static_cast<std::uint64_t>(before) : 0;
    const std::size_t prefix = m_nRead - s.base;
    std::memcpy(s.input.get(), m_carry.get() + (IMPLODE_WINDOW_SIZE - prefix), prefix);
    bool ended = false;
    s.blocks = 0;
    while (s.blocks < m_nSegmentBlocks) {
        const unsigned gathered =
            ReadBlock(m_pfnRead, m_pParam,
                      s.input.get() + prefix + std::size_t{s.blocks} * IMPLODE_BLOCK_SIZE, ended);
        if (ended) {
            m_nLastBlock = firstBlock + s.blocks;
            m_nLastGathered = gathered;
            break;
        }
        ++s.blocks;
    }
    // The carry keeps the last window's worth of whole blocks read.
    const std::size_t filled = prefix + std::size_t{s.blocks} * IMPLODE_BLOCK_SIZE;
    const std::size_t keep = std::min<std::size_t>(filled, IMPLODE_WINDOW_SIZE);
    std::memcpy(m_carry.get() + (IMPLODE_WINDOW_SIZE - keep), s.input.get() + (filled - keep),
                keep);
    m_nRead = s.base + filled;
    return ended;
}

// Hands a segment to the workers; the first segment of an input that ends within it, or any
// when no thread could be started, is parsed on this thread.
void ParallelCompressor::Submit(Segment& s, bool ended)
{
    if (!m_bThreadsTried && !ended) {
        m_bThreadsTried = true;
        m_bThreads = m_pool->Start();
    }
    if (m_bThreads) {
        m_pool->Submit(s);
    } else {
        ParseSegment(s, *reinterpret_cast<ImplodeWork*>(m_joinArea->bytes));
        s.parsed = true;
    }
}

// Codes the last block in the caller's work area, which is first brought to the state
// implode() leaves it in before that block (see the top of this file).
void ParallelCompressor::CodeLastBlock(const Segment& s)
{
    ImplodeTokenCoder<ImplodeBitWriter> coder(m_work, m_out);
    const std::uint64_t e = m_nLastBlock;
    if (e == 0 && m_nLastGathered == 0)
        return; // an empty input: the end code only
    if (e > 0) {
        LoadWindow(m_work, s, e - 1, m_nDictSize, e * IMPLODE_BLOCK_SIZE);
        const std::int64_t origin = WindowOrigin(e - 1, m_nDictSize);
        const auto p = static_cast<unsigned>(static_cast<std::int64_t>(m_lastBlockStart) - origin);
        coder.Sort(ImplodeSortFirst(e - 1, p, m_nDictSize), m_nDictSize + IMPLODE_BLOCK_SIZE,
                   false);
        std::memmove(m_work.abWindow, m_work.abWindow + IMPLODE_BLOCK_SIZE,
                     m_nDictSize + IMPLODE_LOOKAHEAD);
    }
    std::memcpy(m_work.abWindow + IMPLODE_LOOKAHEAD + m_nDictSize,
                s.input.get() + (e * IMPLODE_BLOCK_SIZE - s.base), m_nLastGathered);
    const std::int64_t origin = WindowOrigin(e, m_nDictSize);
    const auto p = static_cast<unsigned>(static_cast<std::int64_t>(m_lastCursor) - origin);
    const unsigned limit = m_nDictSize + m_nLastGathered + IMPLODE_LOOKAHEAD;
    coder.Sort(ImplodeSortFirst(e, p, m_nDictSize), limit, true);
    coder.Code(p, limit, true);
}

void ParallelCompressor::Run()
{
    m_out.Start(m_work.nType, m_work.nDictBits);
    Joiner joiner(*reinterpret_cast<ImplodeWork*>(m_joinArea->bytes), m_out, m_stats);

    std::uint64_t read = 0;   // segments read
    std::uint64_t joined = 0; // segments joined
    bool ended = false;
    const Segment* last = nullptr;
    for (;;) {
        while (!ended && read - joined < m_segments.size()) {
            Segment& s = Slot(read);
            ended = ReadSegment(s, read * m_nSegmentBlocks);
            if (ended)
                last = &s;
            if (s.blocks == 0)
                break;
            Submit(s, ended && read == 0);
            ++read;
        }
        if (joined == read)
            break;
        Segment& s = Slot(joined);
        if (m_bThreads)
            m_pool->WaitParsed(s);
        joiner.Join(s);
        ++joined;
    }
    m_pool->Stop();

    m_lastCursor = joiner.Cursor();
    m_lastBlockStart = joiner.LastBlockStart();
    CodeLastBlock(*last);
    ImplodeTokenCoder<ImplodeBitWriter>(m_work, m_out).EmitEnd();
    m_out.Finish();
}

} // namespace
} // namespace codec

namespace codec {

unsigned ImplodeParallelWithStats(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork,
                                  void* pParam, const unsigned* pType, const unsigned* pDictSize,
                                  unsigned threads, unsigned segmentBlocks,
                                  ImplodeParallelStats* stats)
{
    if (threads <= 1)
        return implode(pfnRead, pfnWrite, pWork, pParam, pType, pDictSize);
    auto& work = *static_cast<ImplodeWork*>(pWork);
    if (const unsigned refused = ImplodeSetUp(work, *pType, *pDictSize); refused != CODEC_OK)
        return refused;
    if (segmentBlocks == 0)
        segmentBlocks = IMPLODE_SEGMENT_BLOCKS;
    segmentBlocks =
        std::clamp(segmentBlocks, IMPLODE_MIN_SEGMENT_BLOCKS, IMPLODE_MAX_SEGMENT_BLOCKS);

    ImplodeParallelStats unused;
    std::unique_ptr<ParallelCompressor> compressor;
    try {
        compressor =
            std::make_unique<ParallelCompressor>(work, pfnRead, pfnWrite, pParam, threads,
                                                 segmentBlocks, stats != nullptr ? *stats : unused);
    } catch (const std::bad_alloc&) {
        return implode(pfnRead, pfnWrite, pWork, pParam, pType, pDictSize);
    }
    compressor->Run();
    return CODEC_OK;
}

} // namespace codec

unsigned implode_parallel(CodecReadFn pfnRead, CodecWriteFn pfnWrite, void* pWork, void* pParam,
                          const unsigned* pType, const unsigned* pDictSize, unsigned threads,
                          unsigned segmentBlocks)
{
    return codec::ImplodeParallelWithStats(pfnRead, pfnWrite, pWork, pParam, pType, pDictSize,
                                           threads, segmentBlocks, nullptr);
}

unsigned ImplodeMachineThreads()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}
