// The codec work area of the process. One area serves both jobs, pack and unpack: the
// commands that start a job are disabled while one runs, so it is never used twice at once.
#pragma once

#include "codec/codec.h"

CodecWorkArea& SharedCodecWorkArea();
