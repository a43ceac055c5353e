// The engine's glue to the codec: the work area of each job, the callbacks over files that
// the pack and the unpack job hand the codec, and the pack job's compression settings.
#pragma once

#include <cstdint>
#include <cstdio>

#include "codec/codec.h"
#include "engine/sha256.h"

// The codec work area of the calling job: one for each thread, so the jobs that run at once
// (a console batch) each have their own. A job's codec runs only on its worker thread (the
// parallel compressor calls back on its caller's thread alone), so the area is the job's.
// Allocated on the thread's first use and released when the thread ends.
CodecWorkArea& JobCodecWorkArea();

// What a codec run over files keeps track of in either direction; lives on the worker's
// stack. Sizes and counters are 64-bit so that files beyond 2 and 4 GiB report correctly.
struct CodecFiles {
    std::FILE* pIn = nullptr;   // the codec's input
    std::FILE* pOut = nullptr;  // the codec's output
    std::int64_t nInTotal = 0;  // length of the input, the base of the progress percentage
    std::uint64_t nInRead = 0;  // input bytes read so far
    bool bWriteFailed = false;  // a write to pOut failed; never cleared during the job
    bool bReadFailed = false;   // a read of pIn failed (not its end); never cleared either
    int nLastProgress = -1;     // the percentage last shown, -1 before the first read
    std::uint64_t nWritten = 0; // bytes written to pOut
    int nWriteError = 0;        // errno of the first failed write, 0 when none
    int nReadError = 0;         // errno of the failed read, 0 when none
};

// The callback parameter of the pack job's compression.
struct CompressContext : CodecFiles {
    std::uint64_t nCompressed = 0;    // compressed bytes handed to CompressWrite so far
    Sha256* pProjectDigest = nullptr; // fed every byte read of the project file, when set
};

// The callback parameter of the unpack job's decompression.
struct ExpandContext : CodecFiles {
    std::uint64_t nLeft = 0;           // input bytes not yet handed to the codec: limits reads
    Sha256* pRestoredDigest = nullptr; // fed every byte the stream restores, when set
};

// Read callbacks: read up to *size bytes of pIn (expanding, at most nLeft), then, on the
// first read and whenever the percentage has changed, send JobBusy and move the progress
// bar. They return the count read; 0 ends the codec's input, also after a read error, which
// is recorded in bReadFailed.
unsigned CompressRead(unsigned char* buf, unsigned* size, void* param);
unsigned ExpandRead(unsigned char* buf, unsigned* size, void* param);
// Write callbacks: write the bytes to pOut; a failed write sets bWriteFailed and nothing
// further is written. Compressing counts the bytes in nCompressed.
void CompressWrite(unsigned char* buf, unsigned* size, void* param);
void ExpandWrite(unsigned char* buf, unsigned* size, void* param);

// Compresses project into out exactly as the pack job does (binary literals, 4096-byte
// dictionary, a zeroed work area, so a file always packs to the same bytes) on threads
// threads (0: the machine's cores; the stream is the same for every count), feeding
// projectDigest when it is set, and answers the context the callbacks filled: sizes, read
// and write failures.
CompressContext CompressLikeThePackJob(std::FILE* project, std::FILE* out, unsigned threads = 0,
                                       Sha256* projectDigest = nullptr);
