// Checksums beside a packed file or set, outside the packed format.
//
// The packed format carries no checksum, and its bytes must stay as they are. The manifest
// NAME.sha256 beside the packed file holds SHA-256 checksums in the format sha256sum writes
// and checks: one line for the project file as it was packed, one line for each file of the
// set (the single packed file, or volumes .0KX, .1KX, ...), names relative to the folder. So
// anyone can check copied disks with standard tools, and `packtool-cli test` and `unpack`
// check them too.
//
// The project file's checksum is taken from the very bytes the codec reads while packing, and,
// when restoring, from the bytes it writes: the jobs' requests ask for it and the codec
// callbacks feed it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/packedformat.h"
#include "engine/sha256.h"

// True when the restored bytes, whose checksum is restoredDigest, are what the manifest at
// manifestPath says the project file was (expectedDigest). On a mismatch shows and logs that the
// restored bytes differ from the manifest (the caller keeps the old project file).
bool RestoredBytesMatchManifest(const std::string& restoredDigest,
                                const std::string& expectedDigest, const std::string& manifestPath);

// The SHA-256 of a whole file in hexadecimal; empty when it cannot be read.
std::string DigestOfFile(const std::string& path);

struct ManifestEntry {
    std::string strDigest; // 64 lower-case hexadecimal digits
    std::string strName;   // the file name, relative to the manifest's folder
};

// The manifest of a packed file: its folder, its base name, ".sha256".
std::string ManifestPath(const std::string& packedPath);

// The most bytes a manifest of ours can hold: a line for the project file and for each of
// MAX_VOLUMES + 1 volumes, each of a checksum, two separators, a line break, and a name of
// NAME_MAX bytes that escaping may double. A larger file is not ours and is not read.
constexpr std::int64_t MANIFEST_LINE_LIMIT = 1 + 64 + 2 + 2 * 255 + 2;
constexpr std::int64_t MANIFEST_SIZE_LIMIT = (MAX_VOLUMES + 2) * MANIFEST_LINE_LIMIT;

// Reads a manifest. Returns false when it cannot be read, is no regular file, is larger than
// MANIFEST_SIZE_LIMIT, or a line is not in sha256sum's format (so a damaged manifest is never
// half believed).
bool ReadManifest(const std::string& path, std::vector<ManifestEntry>& entries);

// Writes the manifest under a temporary name beside it and renames it into place; false (and
// nothing left behind) on failure.
bool WriteManifest(const std::string& path, const std::vector<ManifestEntry>& entries);

// The files of the set that packedPath begins, as they are on disk: the volumes named by the
// header's count when the file carries the header, else the single packed file.
std::vector<std::string> SetFiles(const std::string& packedPath);

// The manifest of a set that was just written: the project file's line (its name and the
// checksum of its packed bytes), then one line per file of the set, read back from disk.
// Returns false when a file cannot be read or the manifest cannot be written, and when a file
// of the manifest's name is there that is not ours (it is never replaced).
bool WriteSetManifest(const std::string& packedPath, const std::string& projectName,
                      const std::string& projectDigest);

// After a pack that wrote no manifest: removes the manifest of the packed file's name when it
// is ours (it described the set this pack replaced) and logs that it did. Any other file of
// that name is left alone, with a line that says so.
void RemoveStaleManifest(const std::string& packedPath);

// After a pack that was asked for checksums, for the console and the window alike: writes the
// set's manifest (WriteSetManifest); when it cannot, removes a stale manifest of ours and leaves
// any other file of that name byte for byte as it is, with a line that says so
// (RemoveStaleManifest). Returns true when the manifest was written.
bool WriteManifestAfterPack(const std::string& packedPath, const std::string& projectPath,
                            const std::string& projectDigest);

// True when the entries are a manifest this program writes for the packed file packedPath:
// first the project file's line (a bare file name that is none of the set's), then one line
// for each volume of a set of that name, volume 0 first (packedPath's own name), and nothing
// else. A checksum file made by hand, a note, or lines for other files are not ours.
bool IsOurManifest(const std::vector<ManifestEntry>& entries, const std::string& packedPath);

// The manifest beside a packed file, as every command that checks one sees it: `test`,
// `unpack`, `split` and `join` decide by this one function whether its checksums count.
struct ManifestCheck {
    enum Kind {
        None,       // there is no file of the manifest's name
        Ours,       // ours: its checksums are checked
        Foreign,    // not written by this program: left alone, not checked
        Unreadable, // cannot be read, or a line is not in sha256sum's format: left alone
    };
    Kind kind = None;
    std::string strPath;
    std::vector<ManifestEntry> entries; // when Ours
    // For Foreign and Unreadable: why the manifest is not used, in the current language.
    std::string strWarning;
    // The project file's line of a manifest of ours (its first), or null.
    const ManifestEntry* Project() const { return kind == Ours ? &entries.front() : nullptr; }
};
ManifestCheck ExamineManifest(const std::string& packedPath);

// The entry for a file name in a manifest, or null. Names compare exactly.
const ManifestEntry* FindEntry(const std::vector<ManifestEntry>& entries, const std::string& name);

// How a file on disk compares with its line in a manifest.
enum class ManifestMatch {
    Matches,
    Differs,
    NotListed,
    Unreadable
};
// Whether the manifest beside a packed file lets a job go on with these files of its set. A
// manifest of ours must list each with its checksum: the first that differs is named in a box
// (message IDS_CLI_MANIFEST_MISMATCH) and the answer is false. Another file of that name, or
// one that cannot be read, is left alone with its warning in the log; no manifest vouches too.
bool ManifestVouchesFor(const ManifestCheck& manifest, const std::vector<std::string>& files);

ManifestMatch CheckFileAgainstManifest(const std::vector<ManifestEntry>& entries,
                                       const std::string& path);

// The project file's entry: the first entry that names no file of the set (the manifest is
// written with it first), or null.
const ManifestEntry* FindProjectEntry(const std::vector<ManifestEntry>& entries,
                                      const std::vector<std::string>& setFiles);
