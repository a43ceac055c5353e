#include "engine/codecwork.h"

#include <cerrno>
#include <cstring>

#include "codec/implode_parallel.h"
#include "engine/jobcontext.h"
#include "engine/manifest.h"
#include "platform/files.h"

unsigned g_nCompressThreads = ImplodeMachineThreads();

CodecWorkArea& SharedCodecWorkArea()
{
    static CodecWorkArea area{};
    return area;
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

unsigned CodecRead(unsigned char* buf, unsigned* size, void* param)
{
    auto& context = *static_cast<CodecContext*>(param);
    if (context.nMode == 0) {
        if (*size > context.nCounter)
            *size = static_cast<unsigned>(context.nCounter);
        context.nCounter -= *size;
    }
    std::size_t got = 0;
    if (!context.bReadFailed) {
        errno = 0;
        got = ReadBytes(buf, *size, context.pIn);
        if (got < *size && StreamFailed(context.pIn)) {
            context.bReadFailed = true;
            context.nReadError = errno != 0 ? errno : EIO;
        }
    }
    context.nInRead += got;
    if (g_pProjectDigest && context.nMode == 1)
        g_pProjectDigest->Update(buf, got);
    // Each send waits for the main thread. Sending only when the bar moves shows the user the
    // same thing (the wait cursor is on, the bar at the same place) for at most 101 waits a
    // job instead of one or two per block, which on a busy machine costs real time.
    const int percent = ProgressPercent(context.nInRead, context.nInTotal);
    if (percent != context.nLastProgress) {
        context.nLastProgress = percent;
        SendMessageToMainWindow(WM_JOBBUSY, 0, 0);
        SetProgress(percent);
    }
    return static_cast<unsigned>(got);
}

void CodecWrite(unsigned char* buf, unsigned* size, void* param)
{
    auto& context = *static_cast<CodecContext*>(param);
    if (context.nMode == 1)
        context.nCounter += *size;
    else if (g_pProjectDigest)
        g_pProjectDigest->Update(buf, *size); // the restored project file's bytes
    if (context.bWriteFailed)
        return;
    errno = 0;
    const std::size_t put = WriteBytes(buf, *size, context.pOut);
    context.nWritten += put;
    if (put != *size || StreamFailed(context.pOut)) {
        context.bWriteFailed = true;
        context.nWriteError = errno != 0 ? errno : EIO;
    }
}

CodecContext CompressLikeThePackJob(std::FILE* project, std::FILE* out)
{
    CodecContext context;
    context.pIn = project;
    context.pOut = out;
    context.nMode = 1;
    context.nInTotal = GetFileLength(project);

    // The compressor's choice between equal candidates at the end of the input depends on
    // what the work area held before: a zeroed area makes a file always pack to the same bytes.
    CodecWorkArea& work = SharedCodecWorkArea();
    std::memset(work.bytes, 0, sizeof(work.bytes));
    const unsigned type = CODEC_BINARY;
    const unsigned dictSize = 4096;
    implode_parallel(CodecRead, CodecWrite, work.bytes, &context, &type, &dictSize, g_nCompressThreads);
    return context;
}

std::int64_t GetFileLength(std::FILE* stream)
{
    const std::int64_t length = StreamLength(stream);
    if (length < 0) {
        std::fputs("Unable to determine input file size.\n", stdout);
        return 0;
    }
    return length;
}
