#include "engine/manifest.h"

#include <cerrno>
#include <cstdio>

#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/packedformat.h"
#include "platform/mainwindow.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "platform/files.h"
#include "platform/paths.h"

bool RestoredBytesMatchManifest(const std::string& restoredDigest,
                                const std::string& expectedDigest, const std::string& manifestPath)
{
    if (restoredDigest == expectedDigest)
        return true;
    const std::string text =
        FormatText(LoadString(IDS_MANIFEST_RESTORED_MISMATCH).c_str(), manifestPath.c_str());
    // Shown, and logged so that a saved log keeps it; the console prints the two once.
    ShowMessageBoxOwnedByMain(text, MB_OK | MB_ICONEXCLAMATION);
    AppendStatus(text + "\r\n");
    return false;
}

std::string DigestOfFile(const std::string& path)
{
    // Only a regular file has a checksum: a FIFO would never end, nor would /dev/zero.
    std::FILE* file = OpenRegularInputStream(path);
    if (!file)
        return {};
    Sha256 digest;
    unsigned char buffer[65536];
    std::size_t got = 0;
    while ((got = ReadBytes(buffer, sizeof(buffer), file)) > 0)
        digest.Update(buffer, got);
    const bool failed = StreamFailed(file);
    CloseStream(file);
    return failed ? std::string() : digest.FinalHex();
}

std::string ManifestPath(const std::string& packedPath)
{
    const PathParts parts = SplitPath(packedPath);
    return MakePath(parts.drive, parts.dir, parts.name, ".sha256");
}

namespace {

// sha256sum marks a line whose name holds a backslash or a line break with a leading
// backslash and writes those two characters escaped.
std::string EscapeName(const std::string& name, bool& escaped)
{
    std::string out;
    escaped = false;
    for (char c : name) {
        if (c == '\\') {
            out += "\\\\";
            escaped = true;
        } else if (c == '\n') {
            out += "\\n";
            escaped = true;
        } else if (c == '\r') {
            out += "\\r";
            escaped = true;
        } else {
            out += c;
        }
    }
    return out;
}

bool UnescapeName(const std::string& text, std::string& name)
{
    name.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            name += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\': name += '\\'; break;
        case 'n': name += '\n'; break;
        case 'r': name += '\r'; break;
        default: return false;
        }
    }
    return true;
}

bool IsHexDigest(const std::string& text)
{
    if (text.size() != 64)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

} // namespace

namespace {

// The parse of a manifest's whole text; false at the first line not in sha256sum's format.
bool ParseManifest(const std::string& text, std::vector<ManifestEntry>& entries)
{
    for (std::string& line : SplitLines(text)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const bool escaped = line[0] == '\\';
        if (escaped)
            line.erase(0, 1);
        // "DIGEST  NAME" (text mode) or "DIGEST *NAME" (binary mode): the same bytes here.
        if (line.size() < 66 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*'))
            return false;
        ManifestEntry entry;
        entry.strDigest = line.substr(0, 64);
        if (!IsHexDigest(entry.strDigest))
            return false;
        for (char& c : entry.strDigest)
            if (c >= 'A' && c <= 'F')
                c = static_cast<char>(c - 'A' + 'a');
        const std::string name = line.substr(66);
        if (!escaped)
            entry.strName = name;
        else if (!UnescapeName(name, entry.strName))
            return false;
        if (entry.strName.empty())
            return false;
        entries.push_back(entry);
    }
    return true;
}

enum class ManifestRead {
    Read,
    CannotOpen,
    TooLarge,
    ReadFailed
};

// Reads the manifest's text, at most MANIFEST_SIZE_LIMIT bytes of a regular file. error gets
// the open's error, size the file's size when it is too large.
ManifestRead ReadManifestText(const std::string& path, std::string& text, int& error,
                              std::int64_t& size)
{
    text.clear();
    error = 0;
    size = 0;
    std::FILE* file = OpenRegularInputStream(path);
    if (!file) {
        error = errno;
        return ManifestRead::CannotOpen;
    }
    // One byte more than the limit is read, so that a file that grows after the look at its
    // size is caught as well.
    const std::int64_t length = StreamLength(file);
    ManifestRead result = ManifestRead::Read;
    if (length > MANIFEST_SIZE_LIMIT) {
        size = length;
        result = ManifestRead::TooLarge;
    } else {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = ReadBytes(buffer, sizeof buffer, file)) > 0) {
            text.append(buffer, got);
            if (static_cast<std::int64_t>(text.size()) > MANIFEST_SIZE_LIMIT) {
                size = static_cast<std::int64_t>(text.size());
                result = ManifestRead::TooLarge;
                break;
            }
        }
        if (result == ManifestRead::Read && StreamFailed(file))
            result = ManifestRead::ReadFailed;
    }
    CloseStream(file);
    if (result != ManifestRead::Read)
        text.clear();
    return result;
}

} // namespace

bool ReadManifest(const std::string& path, std::vector<ManifestEntry>& entries)
{
    entries.clear();
    std::string text;
    int error = 0;
    std::int64_t size = 0;
    if (ReadManifestText(path, text, error, size) != ManifestRead::Read)
        return false;
    return ParseManifest(text, entries);
}

bool WriteManifest(const std::string& path, const std::vector<ManifestEntry>& entries)
{
    std::string text;
    for (const ManifestEntry& entry : entries) {
        bool escaped = false;
        const std::string name = EscapeName(entry.strName, escaped);
        text += (escaped ? "\\" : "") + entry.strDigest + "  " + name + "\n";
    }
    // Written as every output is: under a temporary name beside it, renamed into place once
    // complete, keeping the attributes of the file it replaces.
    OutputFile out;
    if (!out.Open(path, TEMP_FILE_PREFIX))
        return false;
    if (WriteBytes(text.data(), text.size(), out.Stream()) != text.size()) {
        out.Abandon();
        return false;
    }
    return out.Commit();
}

std::vector<std::string> SetFiles(const std::string& packedPath)
{
    std::vector<std::string> files{packedPath};
    const PackedHeaderRead read = ReadPackedHeaderOf(packedPath);
    if (read.bHeader)
        for (int i = 1; i < read.nCount; ++i)
            files.push_back(VolumePath(packedPath, i));
    return files;
}

bool WriteSetManifest(const std::string& packedPath, const std::string& projectName,
                      const std::string& projectDigest)
{
    const ManifestCheck existing = ExamineManifest(packedPath);
    if (existing.kind != ManifestCheck::None && existing.kind != ManifestCheck::Ours)
        return false;
    std::vector<ManifestEntry> entries{{projectDigest, projectName}};
    for (const std::string& file : SetFiles(packedPath)) {
        const std::string digest = DigestOfFile(file);
        if (digest.empty())
            return false;
        entries.push_back({digest, FileNameOf(file)});
    }
    return WriteManifest(ManifestPath(packedPath), entries);
}

bool ManifestVouchesFor(const ManifestCheck& manifest, const std::vector<std::string>& files)
{
    if (manifest.kind == ManifestCheck::Foreign || manifest.kind == ManifestCheck::Unreadable) {
        AppendStatus(manifest.strWarning);
        AppendStatus("\r\n");
        return true;
    }
    if (manifest.kind != ManifestCheck::Ours)
        return true;
    for (const std::string& file : files) {
        if (CheckFileAgainstManifest(manifest.entries, file) != ManifestMatch::Matches) {
            ShowMessageBoxOwnedByMain(FormatText(LoadString(IDS_CLI_MANIFEST_MISMATCH).c_str(),
                                                 file.c_str(), manifest.strPath.c_str()),
                                      MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
    }
    return true;
}

void RemoveStaleManifest(const std::string& packedPath)
{
    const ManifestCheck manifest = ExamineManifest(packedPath);
    if (manifest.kind == ManifestCheck::None)
        return;
    if (manifest.kind != ManifestCheck::Ours) {
        AppendStatus(manifest.strWarning);
        AppendStatus("\r\n");
        return;
    }
    if (std::remove(manifest.strPath.c_str()) == 0) {
        AppendStatus(
            FormatText(LoadString(IDS_MANIFEST_STALE_REMOVED).c_str(), manifest.strPath.c_str()));
        AppendStatus("\r\n");
    }
}

bool WriteManifestAfterPack(const std::string& packedPath, const std::string& projectPath,
                            const std::string& projectDigest)
{
    if (WriteSetManifest(packedPath, FileNameOf(projectPath), projectDigest))
        return true;
    // An old manifest of ours would describe the set this pack replaced; a file of that name
    // that we did not write is the user's and stays.
    RemoveStaleManifest(packedPath);
    return false;
}

bool IsOurManifest(const std::vector<ManifestEntry>& entries, const std::string& packedPath)
{
    if (entries.size() < 2)
        return false;
    std::vector<std::string> setNames{FileNameOf(packedPath)};
    for (std::size_t i = 1; i + 1 < entries.size(); ++i)
        setNames.push_back(FileNameOf(VolumePath(packedPath, static_cast<int>(i))));
    for (std::size_t i = 0; i < setNames.size(); ++i)
        if (entries[i + 1].strName != setNames[i])
            return false;
    const std::string& project = entries.front().strName;
    if (project.find('/') != std::string::npos)
        return false;
    for (const std::string& name : setNames)
        if (name == project)
            return false;
    return true;
}

ManifestCheck ExamineManifest(const std::string& packedPath)
{
    ManifestCheck check;
    check.strPath = ManifestPath(packedPath);
    if (LookUpFile(check.strPath) != FileLookup::Exists)
        return check;
    std::vector<ManifestEntry> entries;
    std::string text;
    int error = 0;
    std::int64_t size = 0;
    const ManifestRead read = ReadManifestText(check.strPath, text, error, size);
    if (read == ManifestRead::CannotOpen &&
        (error == ESPIPE || error == ENODEV || error == EISDIR)) {
        // A FIFO, a device or a folder of that name is never read, and never replaced.
        check.kind = ManifestCheck::Unreadable;
        check.strWarning = FormatText(LoadString(IDS_MANIFEST_NOT_REGULAR_IGNORED).c_str(),
                                      check.strPath.c_str(), InputErrorText(error).c_str());
    } else if (read == ManifestRead::TooLarge) {
        check.kind = ManifestCheck::Unreadable;
        check.strWarning =
            FormatText(LoadString(IDS_MANIFEST_TOO_LARGE_IGNORED).c_str(), check.strPath.c_str(),
                       static_cast<long long>(size), static_cast<long long>(MANIFEST_SIZE_LIMIT));
    } else if (read != ManifestRead::Read || !ParseManifest(text, entries)) {
        check.kind = ManifestCheck::Unreadable;
        check.strWarning =
            FormatText(LoadString(IDS_MANIFEST_UNREADABLE_IGNORED).c_str(), check.strPath.c_str());
    } else if (!IsOurManifest(entries, packedPath)) {
        check.kind = ManifestCheck::Foreign;
        check.strWarning =
            FormatText(LoadString(IDS_MANIFEST_FOREIGN_IGNORED).c_str(), check.strPath.c_str());
    } else {
        check.kind = ManifestCheck::Ours;
        check.entries = std::move(entries);
    }
    return check;
}

const ManifestEntry* FindEntry(const std::vector<ManifestEntry>& entries, const std::string& name)
{
    for (const ManifestEntry& entry : entries)
        if (entry.strName == name)
            return &entry;
    return nullptr;
}

const ManifestEntry* FindProjectEntry(const std::vector<ManifestEntry>& entries,
                                      const std::vector<std::string>& setFiles)
{
    for (const ManifestEntry& entry : entries) {
        bool inSet = false;
        for (const std::string& file : setFiles)
            inSet = inSet || FileNameOf(file) == entry.strName;
        if (!inSet)
            return &entry;
    }
    return nullptr;
}

ManifestMatch CheckFileAgainstManifest(const std::vector<ManifestEntry>& entries,
                                       const std::string& path)
{
    const ManifestEntry* entry = FindEntry(entries, FileNameOf(path));
    if (!entry)
        return ManifestMatch::NotListed;
    const std::string digest = DigestOfFile(path);
    if (digest.empty())
        return ManifestMatch::Unreadable;
    return digest == entry->strDigest ? ManifestMatch::Matches : ManifestMatch::Differs;
}
