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
#include <sys/types.h>

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
// path made absolute against the current directory, so that what a job is given does not
// depend on the folder the program is in later. Empty stays empty; a path that begins with
// '/' is returned as it is, and so is any path when the current directory is unknown.
std::string AbsolutePath(const std::string& path);
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
// flushed and, when the rename replaces an existing file, forced to the disk first, so that
// after a power failure that name holds the old file or the whole new one, never an empty
// one. A brand-new name has nothing to lose and skips the wait. Returns 0, or non-zero when
// any step failed.
int CloseWrittenStream(std::FILE* stream, bool replacesFile = true);

// Size of the buffer given to every output stream (setvbuf): the data goes out in writes of
// this size, not in the C library's 4 KB.
constexpr std::size_t OUTPUT_BUFFER_SIZE = 256 * 1024;
// Gives the stream a buffer of OUTPUT_BUFFER_SIZE; call before the first write. The buffer is
// freed by CloseStream (a stream closed otherwise, such as stdout at exit, keeps it).
void UseLargeOutputBuffer(std::FILE* stream);
// The same for a stream that is read: the file is read in pieces of OUTPUT_BUFFER_SIZE instead
// of 4 KB, so a decoder asking for 2 KB at a time makes one system call per 128 of its reads.
// Call before the first read; CloseStream frees the buffer.
void UseLargeInputBuffer(std::FILE* stream);

// The system's text for an error number (strerror), shown beside the program's own messages.
std::string SystemErrorText(int error);

// ---- Outputs -------------------------------------------------------------------------------
//
// How an output is written depends on what its name holds now. A regular file, or a name that
// does not exist yet, is written under a temporary name beside it and renamed into place at
// the end, so the name never holds an incomplete file. Anything else that exists (a character
// device such as /dev/null or a terminal, a FIFO, a socket, or a link to one) cannot be
// replaced: it is opened and written straight, and its write errors are reported. A folder
// cannot be written at all.
enum class OutputKind {
    NewFile,     // nothing there yet: temporary file, then rename
    ReplaceFile, // a regular file (maybe through links): temporary file beside it, then rename
    Straight,    // a device, FIFO or socket: written straight, never replaced
    Folder,      // a folder: refused (EISDIR)
};
struct OutputTarget {
    OutputKind kind = OutputKind::NewFile;
    std::string path; // what is written or renamed over: a link is followed to its file
    mode_t mode = 0;  // ReplaceFile: the permission bits the replacement keeps
};
// Examines an output's name. The one place that decides "temporary file and rename" against
// "write straight": every command that writes a file the user named goes through it.
OutputTarget ExamineOutput(const std::string& path);

// An output written the safe way for its kind (ExamineOutput). A new file takes the permission
// bits of the file it is made from (modeSource), as a packed file keeps its project file's
// privacy; a replaced file keeps its own bits.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile(); // abandons an output that was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens the output. tempPrefix names the temporary file in the output's folder. Returns
    // false with errno set: EISDIR for a folder, EACCES for a regular file that may not be
    // written (it stays as it is), or the error of the creation or the open.
    bool Open(const std::string& path, const std::string& tempPrefix,
              const std::string& modeSource = std::string());
    std::FILE* Stream() const { return m_stream; }
    bool WritesStraight() const { return m_target.kind == OutputKind::Straight; }
    bool ReplacesFile() const { return m_target.kind == OutputKind::ReplaceFile; }
    // The temporary file being written, empty for a straight output.
    const std::string& TempPath() const { return m_tempPath; }
    // The name that receives the data (a link followed to its file).
    const std::string& FinalPath() const { return m_target.path; }

    // After a failed Open: true when the temporary file could not be created in the output's
    // folder (a read-only folder, say), false when the output itself was refused.
    bool FolderFailed() const { return m_folderFailed; }
    // The output's folder, as the temporary file is created in it.
    std::string Folder() const;

    // Flushes and closes the stream, then renames the temporary file into place (or to
    // otherName when given: what a damaged stream decoded is kept beside the output). Returns
    // false with errno set when any write, the flush, the close or the rename failed (the
    // temporary file is then removed). A cancel request makes it fail with ECANCELED before
    // the rename.
    bool Commit(const std::string& otherName = std::string());
    // Closes the stream and removes the temporary file; a straight output is only closed.
    void Abandon();

private:
    OutputTarget m_target;
    std::string m_tempPath;
    std::FILE* m_stream = nullptr;
    bool m_folderFailed = false;
};

// The permission bits a new output takes from the file it is made from (gzip's rule), applied
// to an open descriptor; nothing happens when source is empty or cannot be looked at. Used for
// packed files, restored project files and volumes.
void CopyPermissionBits(int fd, const std::string& source);

// What a file that replaces another keeps of it, applied to the replacement's open descriptor
// before the rename: its permission bits, its owner and group (as far as the process may give
// them: root may, another user keeps its own and the group where it is a member) and its
// extended attributes of the user.* and security.* classes (where the file system takes
// them). Failures change nothing else: the replacement is still written.
void KeepReplacedFileAttributes(int fd, const std::string& replaced);

// The attributes an output's temporary file takes before it gets the output's name: those of
// the file it replaces (KeepReplacedFileAttributes) when target is ReplaceFile, else the
// permission bits of modeSource (CopyPermissionBits).
void ApplyOutputAttributes(int fd, const OutputTarget& target, const std::string& modeSource);

// An input that a job needs whole and measured (a project file, a packed file, a volume):
// 0 when it is a regular file (through links), else the error that describes it: EISDIR for
// a folder, ESPIPE for a FIFO or socket, ENODEV for a device, or the error of stat.
int CheckRegularInput(const std::string& path);

// Opens such an input for reading, or refuses it with the error CheckRegularInput gives (-1,
// errno set). The open itself never waits: a FIFO is opened without blocking and refused once
// the open descriptor shows what it is, so nothing that takes the name between a look and the
// open is read either. Every input that is read whole goes through these two.
int OpenRegularInput(const std::string& path);
// The same as a stdio stream ("rb"); null with errno set.
std::FILE* OpenRegularInputStream(const std::string& path);

// ---- Cancel request ------------------------------------------------------------------------
//
// A process-wide request to stop the running job: the desktop program's Cancel, or a signal
// in the console. Once set, every read and write through ReadBytes and WriteBytes fails with
// ECANCELED, so every job runs its own failure path at its next read or write: temporary files
// removed, old files kept. No question is asked after it (ShowMessageBoxOwnedByMain answers
// Cancel at once). RequestCancel is async-signal-safe. A thread inside a job scope
// (platform/jobscope.h) also sees that job's own request.
void RequestCancel();
bool CancelRequested();
// Forgets the request, before a new job starts (the desktop program, the tests).
void ClearCancelRequest();

// A job that has begun to put its result in place (its first rename over an older file or
// set) finishes it: a cancel from then on would leave neither the old files nor the new ones.
// While a CancelHold exists, CancelRequested() answers false; a request made meanwhile is kept
// and seen once the last hold has ended. RequestCancel stays async-signal-safe.
class CancelHold {
public:
    CancelHold();
    ~CancelHold();
    CancelHold(const CancelHold&) = delete;
    CancelHold& operator=(const CancelHold&) = delete;
};

// The fault seam, for tests. Once armed, every write through WriteBytes after the given total
// of bytes (counted from the arming) fails with ENOSPC: the part that still fits is written,
// the rest is not, and the stream counts as failed. FailNthWrite makes the n-th call from the
// arming (1 = the next) fail whole. Reads fail likewise with EIO. Disarm clears all of them.
void FailWritesAfterBytes(std::uint64_t bytes);
void FailNthWrite(unsigned n);
void FailReadsAfterBytes(std::uint64_t bytes);
// The n-th write from the disarming (1 = the next) asks for a cancel and fails with it, as the
// window's Cancel or a signal does at that moment; WritesSinceDisarm counts the writes.
void CancelAtNthWrite(std::uint64_t n);
std::uint64_t WritesSinceDisarm();
void DisarmFileFaults();
