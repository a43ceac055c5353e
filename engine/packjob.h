// The pack job: compresses a project file with the implode method into a packed file of the
// same name with the extension ".0KX" beside it, on a worker thread, reports the sizes, and
// splits the packed file into volumes when asked (split.cpp).
//
// Also the codec callbacks that both jobs use: CodecRead and CodecWrite over a CodecContext.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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

// The size report (message 1233): original size, compressed size and the compressed size as
// a percentage of the original with two decimals. An empty original reports 0.00.
std::string FormatSizeReport(std::int64_t originalSize, std::uint64_t compressedSize);

// Main thread. Fills the job context, names the packed file, asks about an existing one and
// starts PackWorker. Returns 1 when the worker was started, 0 when no job starts (the packed
// file was refused, the project file is its own packed file, or no thread could be made).
int StartPackJob(const std::string& projectPath, int splitFile, int volumeSize);

// The worker. Ends itself; the job posts JOB_IDLE as its last state.
void PackWorker();

// 1 when the last pack job wrote its packed file (and, when splitting, the whole set);
// 0 otherwise. Written by the worker, to be read once its thread has ended.
extern int g_bPackSucceeded;

// The split step of the pack job (split.cpp): posts JOB_SPLITTING, logs its banner and cuts
// the job's own stream in streamPath into the volumes of g_strPackedPath, of g_nVolumeSize
// bytes; the stream is removed whatever happens. Returns 1 when the set is complete.
int RunSplitStep(const std::string& streamPath);
