#include "engine/codecwork.h"

#include "codec/implode_parallel.h"

unsigned g_nCompressThreads = ImplodeMachineThreads();

CodecWorkArea& SharedCodecWorkArea()
{
    static CodecWorkArea area{};
    return area;
}
