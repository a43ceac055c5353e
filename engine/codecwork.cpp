#include "engine/codecwork.h"

CodecWorkArea& SharedCodecWorkArea()
{
    static CodecWorkArea area{};
    return area;
}
