// Testing a packed file without restoring it: the volumes of a set are found as the unpack job
// finds them (asking for a missing one), the stream is decoded straight from the volumes into
// nothing, and the set's shape is compared with what the splitting writes.
//
// Nothing is written: not even a joined temporary file, so a set can be tested on a disk that
// is full or read-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/manifest.h"

struct PackedFileReport {
    enum Verdict {
        Sound,         // the stream decodes completely up to its end code
        CannotOpen,    // the packed file cannot be opened
        BadCount,      // a header whose volume count is 0 or negative
        VolumeMissing, // a volume of the set was not found (see missingVolume)
        ReadError,     // a volume could not be read to its end
        TooShort,      // too short for a stream's header
        NotAStream,    // the stream's header names no known coding or dictionary size
        StreamEnded,   // the stream ends before its end code
        Damaged,       // it decodes, but as damaged data can by chance: volumes of the wrong
                       // size, or much input behind the end code. Unpacking refuses it too.
    };
    Verdict verdict = CannotOpen;
    int volumeCount = 0; // the header's count; 0 for a single packed file
    int missingVolume = -1;
    std::string missingName;
    int error = 0;                    // CannotOpen, ReadError: why, when known (errno)
    int badVolume = -1;               // ReadError: the volume that could not be used, or -1
    std::string badPath;              // its path
    std::vector<std::string> volumes; // the paths read, volume 0 first
    std::uint64_t streamBytes = 0;    // the stream's length: the volumes less the header
    std::uint64_t restoredBytes = 0;  // what the stream decodes to
    bool emptyStream = false;         // the 4-byte stream of an empty file
    // Checks a sound set may still fail, as texts in the current language.
    std::vector<std::string> warnings;
    std::string restoredDigest; // the SHA-256 of the decoded bytes in hex, when asked for
};

// What a test is asked to check.
struct CheckRequest {
    std::string packedPath;                    // the packed file, or volume 0 of a set
    std::vector<std::string> volumeSearchDirs; // where missing volumes are looked for
    bool restoredDigest = false;               // take the checksum of the decoded bytes
    // The test job (engine/testjob.h) writes its start line and its report to the Status log
    // as well: the window's log; the console prints the outcome on its own streams.
    bool logReport = false;
    // When set, receives the bytes the stream decodes to, in order and as they come, whatever
    // the verdict turns out to be: a caller that restores while it tests (the web page)
    // decodes the stream once. The test decodes the stream only once itself.
    std::function<void(const unsigned char* bytes, std::size_t count)> decodedBytes;
};

// Tests the packed file of the request. Runs on the calling thread; questions about missing
// volumes go to the main window like the unpack job's. The decoding moves the progress bar.
PackedFileReport CheckPackedFile(const CheckRequest& request);

// What a manifest of ours says of a tested packed file: each file of the set against its line,
// then the decoded bytes (report.restoredDigest, when the stream decoded soundly) against
// the project file's line. One text per mismatch, or one that all match, in the catalogue's
// texts; bMatches is false on a mismatch.
struct ManifestFindings {
    bool bMatches = true;
    std::vector<std::string> lines;
};
ManifestFindings CheckAgainstManifest(const PackedFileReport& report,
                                      const ManifestCheck& manifest);

// The verdict on the packed file named file, as one line of the catalogue's texts: what `test`
// prints and the window's Test command logs.
std::string DescribeVerdict(const PackedFileReport& report, const std::string& file);
