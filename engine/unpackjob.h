// The unpack job: restores a project file from a packed file, on a worker thread.
//
// A split set is joined into a temporary stream first (join.h); the stream is decoded with explode into a new file beside
// the project file, which replaces the project file only when the stream decoded completely
// up to its end code. A stream that is cut short, is no implode stream or has a damaged header
// is reported as such (message 1212), and an existing project file then stays as it was.
//
// The project file is named like the packed file, with the extension ".RVN" for a packed file
// named ".0RV" (in any letter case) and ".KMX" for every other one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/join.h"

// Input that may still be unread when the decoder meets the end code: what one read of the
// decoder asks for. More is a stream that ended early, by chance, in damaged data.
constexpr std::int64_t UNPACK_TRAILING_LIMIT = 2048;

// The one rule that tells a damaged packed file from a sound one once its stream has been
// decoded: the unpack job restores exactly what it accepts, and the test command fails exactly
// what it refuses. The stream restores its project file when the decoder met an end code
// (codecResult CODEC_OK) with less than UNPACK_TRAILING_LIMIT bytes of input unread behind it,
// or when it is the compressor's stream of an empty file (emptyStream); never when the
// volumes of its set (setShape, null for a single packed file) lost or gained data inside the
// stream, where a decoder may meet an end code by chance.
bool StreamRestores(unsigned codecResult, std::int64_t unread, bool emptyStream,
                    const SetShape* setShape);

// The base name of a path: the file name without folder and extension.
std::string GetBaseName(const std::string& path);
// The folder part of a path with its trailing '/', or empty when the path names none.
std::string GetDirectory(const std::string& path);

// What an unpack is asked to do.
struct UnpackRequest {
    std::string packedPath;                    // the packed file, or volume 0 of a set
    std::vector<std::string> volumeSearchDirs; // where missing volumes are looked for, absolute
    // The folder the project file and the job's temporary files (the joined stream, the file
    // being decoded) go to, absolute; empty for the packed file's own folder. A set then
    // restores straight from read-only media (the console's --into).
    std::string intoFolder;
    // Keep what a damaged stream decoded, under the project file's name with ".broken" added,
    // instead of removing it (the console's --keep-broken).
    bool keepBroken = false;
    // The restored project file's SHA-256 in hex from a manifest of ours, and that manifest's
    // path: when set, the decoded bytes replace the project file only when they have it.
    std::string expectedDigest;
    std::string manifestPath;
    // Look for the manifest beside the packed file first (ExamineManifest): one of ours sets
    // expectedDigest and manifestPath; any other file of that name is left alone, with a
    // warning line in the log before the start banner.
    bool checkManifest = false;
};

// How an unpack went. Reset by StartUnpackJob, written by the worker; read once the job has
// ended.
struct UnpackOutcome {
    bool started = false;     // the worker ran
    bool restored = false;    // the project file was written from a complete stream
    std::string projectPath;  // the project file the job restores
    unsigned codecResult = 0; // explode's result, when it ran (CODEC_OK ...)
    bool decoded = false;     // explode ran
    bool damaged = false;     // the stream was incomplete or no stream at all
    std::int64_t restoredBytes = 0;
    std::string brokenPath; // where a damaged stream's output was kept, or empty
    JoinInfo join;          // the volumes of a set, or the one missing
};

// The folder an unpack writes the project file and its temporary files into: the request's
// strIntoFolder, else the packed file's own folder (a relative packed path taken in the
// current directory), without a trailing '/'.
std::string RestoreFolder(const UnpackRequest& request);
// 0 when an unpack can create files in RestoreFolder, else the system's reason (EROFS for
// read-only media, EACCES, ENOENT, ...). The window asks for another folder then, the console
// names --into.
int RestoreFolderError(const UnpackRequest& request);

// Main thread. Logs the start banner, chooses the project extension, asks about an existing
// project file and starts the worker: it joins, decompresses, removes the joined file and logs
// the closing banner, which every run that reached the worker ends with. Returns true when the
// worker was started, false when the job ended before it (refused, or no thread could be made);
// outcome, which must outlive the job, tells a front end how the job went once it has ended.
// The job never changes the current directory.
bool StartUnpackJob(const UnpackRequest& request, UnpackOutcome& outcome);

// True when the file holds the 4-byte stream that the compressor writes for an empty input:
// a valid header and the end code alone. The decoder refuses it as too short, yet it is the
// complete stream of an empty project file.
bool IsEmptyFileStream(const std::string& path);
// The same test on the whole stream held in memory.
bool IsEmptyStream(const unsigned char* bytes, std::size_t size);
