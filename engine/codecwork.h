// The codec work area of the process. One area serves both jobs, pack and unpack: the
// commands that start a job are disabled while one runs, so it is never used twice at once.
#pragma once

#include "codec/codec.h"

CodecWorkArea& SharedCodecWorkArea();

// Threads the pack job compresses on: the machine's cores unless a front end sets it before
// the job starts; 1 runs the single-threaded compressor. The stream is the same either way.
extern unsigned g_nCompressThreads;
