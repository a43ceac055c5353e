// Files as the engine needs them: a literal look-up, exclusive creation of temporary files,
// the current directory, and the byte-level reads and writes that every job goes through.
//
// The reads and writes pass through ReadBytes and WriteBytes so that a test can make them fail
// for real (a full disk, a failing drive) at a chosen point: see the fault seam at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

enum class FileLookup {
    Missing,     // no entry of that name (ENOENT)
    Exists,      // an entry of that name exists (a file, a directory, a link, ...)
    InvalidName, // the name cannot name a file: empty, too long, or a part is no directory
};

// Looks the path up literally: "*" and "?" are ordinary characters of a file name here, never
// a pattern. A symbolic link counts as existing even when it points nowhere.
FileLookup LookUpFile(const std::string& path);

// True when both paths name the same file (same device and inode), through links too.
bool IsSameFile(const std::string& a, const std::string& b);

// Creates a new, empty file in dir (the current directory when empty) whose name is prefix
// followed by six random letters and digits. The name is taken by the creation itself
// (O_CREAT | O_EXCL), never chosen first and opened later, so no other process can take it.
// Returns the open descriptor (read and write) and the path, or -1 with errno set.
int CreateExclusiveFile(const std::string& dir, const std::string& prefix, std::string& pathOut);

// The same, opened as a stdio stream in the given mode ("wb+", "rb", ...); null on failure.
std::FILE* CreateExclusiveStream(const std::string& dir, const std::string& prefix,
                                 const char* mode, std::string& pathOut);

// The current directory, with no trailing '/' (except for "/" itself); empty on failure.
std::string CurrentDirectory();
bool ChangeDirectory(const std::string& path);

// Length of an open stream in bytes, by seeking to its end; -1 when it cannot be found. The
// stream is left at its start.
std::int64_t StreamLength(std::FILE* stream);

// fread and fwrite of bytes, through the fault seam. Like fread and fwrite they return the
// count transferred; a short count from WriteBytes always means a failed write, and a short
// count from ReadBytes means the end of the file or a read error (see ReadFailed).
std::size_t ReadBytes(void* buffer, std::size_t count, std::FILE* stream);
std::size_t WriteBytes(const void* buffer, std::size_t count, std::FILE* stream);

// True when the stream is in error, or a read through ReadBytes or a write through WriteBytes
// failed on it since it was last cleared.
bool StreamFailed(std::FILE* stream);
// Forgets the failures recorded for a stream that is being closed (its address may be reused).
void ForgetStream(std::FILE* stream);
// fclose that also forgets the stream's recorded failures; returns fclose's result.
int CloseStream(std::FILE* stream);
// Closes a stream that was written and is about to be renamed to a final name: its data is
// flushed and forced to the disk first, so that after a power failure the final name holds
// the whole file, not an empty one. Returns 0, or non-zero when any step failed.
int CloseWrittenStream(std::FILE* stream);

// The fault seam, for tests. Once armed, every write through WriteBytes after the given total
// of bytes (counted from the arming) fails with ENOSPC: the part that still fits is written,
// the rest is not, and the stream counts as failed. FailNthWrite makes the n-th call from the
// arming (1 = the next) fail whole. Reads fail likewise with EIO. Disarm clears all of them.
void FailWritesAfterBytes(std::uint64_t bytes);
void FailNthWrite(unsigned n);
void FailReadsAfterBytes(std::uint64_t bytes);
void DisarmFileFaults();
