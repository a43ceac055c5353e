// Free space in a folder, as the pack and the split ask for it before they write anything.
//
// The answer comes from statvfs. A test can stand in a figure of its own (OverrideFreeSpace),
// so that "not enough room" is tested without filling a real disk.
#pragma once

#include <cstdint>
#include <string>

struct FolderSpace {
    std::int64_t nAvailable = -1; // bytes an unprivileged user may still write; -1 unknown
    std::int64_t nBlockSize = 1;  // a file takes a whole number of these blocks
};

// The free space of the file system that holds dir (the current directory when empty).
// nAvailable is -1 when the file system cannot tell.
FolderSpace FreeSpaceInFolder(const std::string& dir);

// Bytes a file of length bytes takes on a file system with that block size.
std::int64_t BytesOnDisk(std::int64_t length, std::int64_t blockSize);

// For tests: from now on every folder reports this many bytes available, in blocks of
// blockSize bytes. A negative figure ends the override.
void OverrideFreeSpace(std::int64_t available, std::int64_t blockSize = 1);
