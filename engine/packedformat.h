// The packed file format.
//
// A single packed file is the bare implode stream. A split set is N volumes beside each other:
// volume 0 carries the 16-byte PackedFileHeader followed by the first V bytes of the stream,
// every further volume the next V bytes with no header; the last one holds what is left, which
// is nothing (an empty file) when the stream's length is a multiple of V. The stream is volume
// 0 without its header followed by the other volumes in order.
//
// Volume i is named like the packed file with the digits of i written over its extension from
// the character after the dot on: .0KX, .1KX ... .9KX, .10X ... .99X, .100 ... .999, .1000 ...
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The header of volume 0: the signature, its terminating zero byte, and the volume count N as
// a signed 16-bit little-endian number. Nothing else is stored.
struct PackedFileHeader {
    char signature[14];     // "#ZunPack1.0a#" and its 0 byte
    unsigned char count[2]; // N, little-endian
};
static_assert(sizeof(PackedFileHeader) == 16, "the header is 16 bytes on disk");

constexpr char PACKED_SIGNATURE[] = "#ZunPack1.0a#";
constexpr std::size_t PACKED_HEADER_SIZE = 16;
// The count is a signed 16-bit number: a set holds at most this many volumes.
constexpr std::int64_t MAX_VOLUMES = 32767;

// The 16 header bytes of a set of count volumes (1 to MAX_VOLUMES).
std::array<unsigned char, PACKED_HEADER_SIZE> MakePackedFileHeader(int count);

// True when the 16 bytes begin with the signature and its zero byte; count receives bytes 14
// and 15 as a signed 16-bit little-endian number.
bool ReadPackedFileHeader(const unsigned char* bytes, int& count);

// What the first PACKED_HEADER_SIZE bytes of the file at path say.
struct PackedHeaderRead {
    bool bOpened = false;     // the file could be opened for reading
    bool bReadFailed = false; // a read failed (not the file's end) before the header was whole
    int nError = 0;           // errno of that failure, or of the open that failed
    bool bHeader = false;     // the whole header was read and begins with the signature
    int nCount = 0;           // the header's volume count when bHeader, else 0
    std::array<unsigned char, PACKED_HEADER_SIZE> bytes{}; // the bytes read, zeros after them
};
PackedHeaderRead ReadPackedHeaderOf(const std::string& path);

// The number of volumes that splitting a stream of streamLength bytes into volumes of
// volumeSize bytes writes: floor(S / V) + 1, counting the empty last volume of a stream whose
// length is a multiple of V.
std::int64_t VolumeCountFor(std::int64_t streamLength, std::int64_t volumeSize);

// The extension of volume index, made from the packed file's extension (".0KX").
std::string VolumeExtension(const std::string& packedExt, int index);
// The path of volume index of the set whose volume 0 is packedPath.
std::string VolumePath(const std::string& packedPath, int index);
