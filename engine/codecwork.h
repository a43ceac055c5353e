// The engine's glue to the codec: the work area of the process, the callbacks over files that
// the pack and the unpack job hand the codec, and the pack job's compression settings.
#pragma once

#include <cstdint>
#include <cstdio>

#include "codec/codec.h"

// The codec work area of the process. One area serves both jobs, pack and unpack: the
// commands that start a job are disabled while one runs, so it is never used twice at once.
CodecWorkArea& SharedCodecWorkArea();

// Threads the pack job compresses on: the machine's cores unless a front end sets it before
// the job starts; 1 runs the single-threaded compressor. The stream is the same either way.
extern unsigned g_nCompressThreads;

// The codec's callback parameter for one compression or decompression; lives on the worker's
// stack. Sizes and counters are 64-bit so that files beyond 2 and 4 GiB report correctly.
struct CodecContext {
    std::FILE* pIn = nullptr;   // the codec's input
    std::FILE* pOut = nullptr;  // the codec's output
    int nMode = 0;              // 1 compressing (pack job), 0 decompressing (unpack job)
    // Mode 1: compressed bytes handed to CodecWrite so far. Mode 0: input bytes not yet handed
    // to the codec; it limits the reads.
    std::uint64_t nCounter = 0;
    std::int64_t nInTotal = 0;  // length of the input, the base of the progress percentage
    std::uint64_t nInRead = 0;  // input bytes read so far
    bool bWriteFailed = false;  // a write to pOut failed; never cleared during the job
    bool bReadFailed = false;   // a read of pIn failed (not its end); never cleared either
    int nLastProgress = -1;     // the percentage last shown, -1 before the first read
    std::uint64_t nWritten = 0; // bytes written to pOut
    int nWriteError = 0;        // errno of the first failed write, 0 when none
    int nReadError = 0;         // errno of the failed read, 0 when none
};

// Read callback: reads up to *size bytes of pIn (in mode 0 at most nCounter), then, on the
// first read and whenever the percentage has changed, sends WM_JOBBUSY and moves the progress
// bar. Returns the count read; 0 ends the codec's input, also after a read error, which is
// recorded in bReadFailed.
unsigned CodecRead(unsigned char* buf, unsigned* size, void* param);
// Write callback: writes the bytes to pOut (counting them in mode 1); a failed write sets
// bWriteFailed and nothing further is written.
void CodecWrite(unsigned char* buf, unsigned* size, void* param);

// Length of an open stream in bytes; the stream is left at its start. When it cannot be
// determined, a line says so on standard output and the length is 0.
std::int64_t GetFileLength(std::FILE* stream);

// Compresses project into out exactly as the pack job does (binary literals, 4096-byte
// dictionary, a zeroed work area, so a file always packs to the same bytes) and answers the
// context the callbacks filled: sizes, read and write failures.
CodecContext CompressLikeThePackJob(std::FILE* project, std::FILE* out);
