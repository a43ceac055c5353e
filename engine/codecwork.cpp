#include "engine/codecwork.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "codec/implode_parallel.h"
#include "engine/fileutil.h"
#include "engine/jobcontext.h"
#include "platform/files.h"
#include "platform/threadlocal.h"

CodecWorkArea& JobCodecWorkArea()
{
    // Value-initialised: zeroed, as the compressor wants it.
    PACKTOOL_THREAD_LOCAL std::unique_ptr<CodecWorkArea> area = std::make_unique<CodecWorkArea>();
    return *area;
}

namespace {

int ProgressPercent(std::uint64_t read, std::int64_t total)
{
    if (total <= 0)
        return 0;
    const double percent = static_cast<double>(read) * 100.0 / static_cast<double>(total);
    return percent >= 100.0 ? 100 : static_cast<int>(percent);
}

} // namespace

namespace {

// Reads into buf and moves the progress: what both directions' read callbacks do.
unsigned ReadInput(CodecFiles& files, unsigned char* buf, unsigned size)
{
    std::size_t got = 0;
    if (!files.bReadFailed) {
        errno = 0;
        got = ReadBytes(buf, size, files.pIn);
        if (got < size && StreamFailed(files.pIn)) {
            files.bReadFailed = true;
            files.nReadError = errno != 0 ? errno : EIO;
        }
    }
    files.nInRead += got;
    // Each send waits for the main thread. Sending only when the bar moves shows the user the
    // same thing (the wait cursor is on, the bar at the same place) for at most 101 waits a
    // job instead of one or two per block, which on a busy machine costs real time.
    const int percent = ProgressPercent(files.nInRead, files.nInTotal);
    if (percent != files.nLastProgress) {
        files.nLastProgress = percent;
        SendJobBusy();
        SetProgress(percent);
    }
    return static_cast<unsigned>(got);
}

void WriteOutput(CodecFiles& files, const unsigned char* buf, unsigned size)
{
    if (files.bWriteFailed)
        return;
    errno = 0;
    const std::size_t put = WriteBytes(buf, size, files.pOut);
    files.nWritten += put;
    if (put != size || StreamFailed(files.pOut)) {
        files.bWriteFailed = true;
        files.nWriteError = errno != 0 ? errno : EIO;
    }
}

} // namespace

unsigned CompressRead(unsigned char* buf, unsigned* size, void* param)
{
    auto& context = *static_cast<CompressContext*>(param);
    const unsigned got = ReadInput(context, buf, *size);
    if (context.pProjectDigest)
        context.pProjectDigest->Update(buf, got);
    return got;
}

void CompressWrite(unsigned char* buf, unsigned* size, void* param)
{
    auto& context = *static_cast<CompressContext*>(param);
    context.nCompressed += *size;
    WriteOutput(context, buf, *size);
}

unsigned ExpandRead(unsigned char* buf, unsigned* size, void* param)
{
    auto& context = *static_cast<ExpandContext*>(param);
    if (*size > context.nLeft)
        *size = static_cast<unsigned>(context.nLeft);
    context.nLeft -= *size;
    return ReadInput(context, buf, *size);
}

void ExpandWrite(unsigned char* buf, unsigned* size, void* param)
{
    auto& context = *static_cast<ExpandContext*>(param);
    if (context.pRestoredDigest)
        context.pRestoredDigest->Update(buf, *size);
    WriteOutput(context, buf, *size);
}

CompressContext CompressLikeThePackJob(std::FILE* project, std::FILE* out, unsigned threads,
                                       Sha256* projectDigest)
{
    CompressContext context;
    context.pIn = project;
    context.pOut = out;
    context.pProjectDigest = projectDigest;
    context.nInTotal = GetFileLength(project);

    // The compressor's choice between equal candidates at the end of the input depends on
    // what the work area held before: a zeroed area makes a file always pack to the same bytes.
    CodecWorkArea& work = JobCodecWorkArea();
    std::memset(work.bytes, 0, sizeof(work.bytes));
    const unsigned type = CODEC_BINARY;
    const unsigned dictSize = 4096;
    implode_parallel(CompressRead, CompressWrite, work.bytes, &context, &type, &dictSize,
                     threads == 0 ? ImplodeMachineThreads() : threads);
    return context;
}
