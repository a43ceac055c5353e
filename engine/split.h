// Splitting a packed file into a set of volumes that each fit on one disk (format in
// packedformat.h). The split runs on the pack job's worker after the compression.
//
// The packed file is first moved aside to a temporary file in its own folder, then copied into
// the volumes in chunks of 10000 bytes, and the temporary file is removed. A split that fails
// part-way removes everything it created, so no set that looks complete is left behind.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/packedformat.h"

// Chunk size of every read and write of the split: the only data it holds in memory.
constexpr std::size_t SPLIT_CHUNK_SIZE = 10000;

// Splits the packed file into volumes of volumeSize bytes (plus the header in volume 0).
// Reports through message boxes and the log; returns 1 when the whole set was written.
// A set that would need more than MAX_VOLUMES volumes is refused before anything is moved.
int SplitPackedFile(const std::string& packedPath, int volumeSize);

// Renames the file to a new temporary file beside it (created exclusively, prefix "tmp_"),
// adds that name to g_fileNames, and returns it opened for binary reading. On failure returns
// null and the file stays under its own name.
std::FILE* MoveToTempFile(const std::string& path);

// Creates the volume (or truncates it) and writes the 16 header bytes; 1 on success, 0 after a
// failed open or write (message box 1221).
int WriteVolumeHeader(const std::string& path,
                      const std::array<unsigned char, PACKED_HEADER_SIZE>& header);

// Copies up to wanted bytes from source to dest in chunks of the buffer's size; stops early at
// the end of the source, on a read error or on a failed write.
void CopyVolumeData(std::int64_t wanted, unsigned char* buffer, std::size_t bufferSize,
                    std::FILE* source, std::FILE* dest);

// Reads up to count bytes; fewer at the end of the file or on a read error.
std::size_t ReadChunk(std::size_t count, unsigned char* buffer, std::FILE* source);
