#include "engine/packedformat.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/paths.h"

std::array<unsigned char, PACKED_HEADER_SIZE> MakePackedFileHeader(int count)
{
    std::array<unsigned char, PACKED_HEADER_SIZE> bytes{};
    std::memcpy(bytes.data(), PACKED_SIGNATURE, sizeof(PACKED_SIGNATURE)); // with its 0 byte
    const auto value = static_cast<std::uint16_t>(static_cast<std::int16_t>(count));
    bytes[14] = static_cast<unsigned char>(value & 0xFFu);
    bytes[15] = static_cast<unsigned char>(value >> 8);
    return bytes;
}

bool ReadPackedFileHeader(const unsigned char* bytes, int& count)
{
    if (std::memcmp(bytes, PACKED_SIGNATURE, sizeof(PACKED_SIGNATURE)) != 0)
        return false;
    const auto value = static_cast<std::uint16_t>(bytes[14] | (bytes[15] << 8));
    count = static_cast<std::int16_t>(value);
    return true;
}

PackedHeaderRead ReadPackedHeaderOf(const std::string& path)
{
    PackedHeaderRead read;
    // A FIFO or a device is never opened for its header: it is no packed file.
    std::FILE* file = OpenRegularInputStream(path);
    if (!file) {
        read.nError = errno;
        return read;
    }
    read.bOpened = true;
    const std::size_t got = ReadBytes(read.bytes.data(), read.bytes.size(), file);
    read.bReadFailed = got < read.bytes.size() && StreamFailed(file);
    read.nError = read.bReadFailed ? errno : 0;
    CloseStream(file);
    read.bHeader = got == read.bytes.size() && ReadPackedFileHeader(read.bytes.data(), read.nCount);
    return read;
}

std::int64_t VolumeCountFor(std::int64_t streamLength, std::int64_t volumeSize)
{
    return streamLength / volumeSize + 1;
}

std::string VolumeExtension(const std::string& packedExt, int index)
{
    std::string ext = packedExt.empty() ? std::string(".") : packedExt;
    const std::string digits = std::to_string(index);
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (1 + k < ext.size())
            ext[1 + k] = digits[k];
        else
            ext += digits[k];
    }
    return ext;
}

std::string VolumePath(const std::string& packedPath, int index)
{
    const PathParts parts = SplitPath(packedPath);
    return MakePath(parts.drive, parts.dir, parts.name, VolumeExtension(parts.ext, index));
}
