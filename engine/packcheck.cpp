#include "engine/packcheck.h"

#include <algorithm>
#include <sys/stat.h>

#include "codec/codec.h"
#include "codec/explode.h"
#include "engine/codecwork.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/jobcontext.h"
#include "engine/joblock.h"
#include "engine/join.h"
#include "engine/manifest.h"
#include "engine/packedformat.h"
#include "engine/unpackjob.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

// Reads the stream straight from the volumes, in order: volume 0 after its header (for a set),
// every further volume whole.
struct VolumeReader {
    const std::vector<std::string>* volumes = nullptr;
    bool skipHeader = false;
    std::size_t next = 0; // the volume to open next
    std::FILE* current = nullptr;
    std::uint64_t delivered = 0;
    bool failed = false;
    int failedVolume = -1; // the volume that could not be opened or read
    int error = 0;         // why

    ~VolumeReader()
    {
        if (current)
            CloseStream(current);
    }

    unsigned Read(unsigned char* buf, unsigned want)
    {
        unsigned got = 0;
        while (got < want && !failed) {
            if (!current) {
                if (next >= volumes->size())
                    break;
                current = OpenRegularInputStream((*volumes)[next]);
                if (!current) {
                    failed = true;
                    failedVolume = static_cast<int>(next);
                    error = errno;
                    break;
                }
                UseLargeInputBuffer(current); // the decoder asks for 2 KB at a time
                if (next == 0 && skipHeader) {
                    unsigned char header[PACKED_HEADER_SIZE];
                    ReadBytes(header, sizeof header, current);
                }
                ++next;
            }
            const std::size_t n = ReadBytes(buf + got, want - got, current);
            got += static_cast<unsigned>(n);
            if (got < want) {
                failed = StreamFailed(current);
                if (failed) {
                    failedVolume = static_cast<int>(next) - 1;
                    error = errno;
                }
                CloseStream(current);
                current = nullptr;
            }
        }
        delivered += got;
        return got;
    }
};

struct DecodeRun {
    VolumeReader reader;
    std::uint64_t written = 0;
    // The run moves the progress bar, feeds the project file's checksum (manifest.h) when
    // asked, and hands the bytes to the caller's hook when there is one.
    Sha256* digest = nullptr;
    const std::function<void(const unsigned char*, std::size_t)>* output = nullptr;
    std::uint64_t progressTotal = 0;
    int lastPercent = -1;
};

unsigned Decode(DecodeRun& run)
{
    return explode(
        [](unsigned char* buf, unsigned* size, void* param) -> unsigned {
            auto& self = *static_cast<DecodeRun*>(param);
            const unsigned got = self.reader.Read(buf, *size);
            if (self.progressTotal > 0) {
                const auto percent = static_cast<int>(
                    std::min<std::uint64_t>(100, self.reader.delivered * 100 / self.progressTotal));
                if (percent != self.lastPercent) {
                    self.lastPercent = percent;
                    SetProgress(percent);
                }
            }
            return got;
        },
        [](unsigned char* buf, unsigned* size, void* param) {
            auto& self = *static_cast<DecodeRun*>(param);
            self.written += *size;
            if (self.digest)
                self.digest->Update(buf, *size);
            if (self.output && *size > 0)
                (*self.output)(buf, *size);
        },
        JobCodecWorkArea().bytes, &run);
}

void CheckSetShape(PackedFileReport& report, const std::vector<std::string>& searchDirs)
{
    const int count = report.volumeCount;
    const std::string& first = report.volumes.front();
    int found = 1;
    while (found < count && !FindVolumeFile(first, found, searchDirs).empty())
        ++found;
    if (found < count)
        report.warnings.push_back(FormatText(LoadString(IDS_CHECK_COUNT_MISMATCH).c_str(),
                                             static_cast<long>(count), static_cast<long>(found)));
    const std::string beyond = FindVolumeFile(first, count, searchDirs);
    if (!beyond.empty())
        report.warnings.push_back(
            FormatText(LoadString(IDS_CHECK_VOLUME_BEYOND).c_str(), beyond.c_str()));

    if (count < 2)
        return;
    for (const std::string& line : DescribeSetShape(MeasureSet(report.volumes), report.volumes))
        report.warnings.push_back(line);
}

} // namespace

PackedFileReport CheckPackedFile(const CheckRequest& request)
{
    const std::string& path = request.packedPath;
    PackedFileReport report;
    // The set is read while no other program replaces it (a cancel during the wait reads
    // nothing); its volume 0 may be aside for a moment while a set takes its names.
    JobLocks locks;
    if (!locks.Take({{path, NameLockMode::Shared}}))
        return report;
    // A FIFO would hold the test until a writer came, /dev/zero would decode forever, and a
    // folder has no bytes: each is refused with what it is.
    std::FILE* probe = OpenRegularInputStream(path);
    if (!probe) {
        report.error = errno;
        return report; // CannotOpen
    }
    CloseStream(probe);

    unsigned char header[PACKED_HEADER_SIZE] = {};
    if (CheckPackedHeader(path, header)) {
        int count = 0;
        ReadPackedFileHeader(header, count);
        report.volumeCount = count;
        if (count <= 0) {
            report.verdict = PackedFileReport::BadCount;
            return report;
        }
        JoinInfo found;
        const bool all = BuildVolumeList(path, count, request.volumeSearchDirs, found);
        report.volumes = found.volumes;
        if (!all && found.badVolume >= 0) {
            report.verdict = PackedFileReport::ReadError;
            report.badVolume = found.badVolume;
            report.badPath = found.badPath;
            report.error = found.badError;
            return report;
        }
        if (!all) {
            report.verdict = PackedFileReport::VolumeMissing;
            report.missingVolume = found.missingVolume;
            report.missingName = found.missingName;
            return report;
        }
    } else {
        report.volumes = {path};
    }

    for (std::size_t i = 0; i < report.volumes.size(); ++i) {
        const std::int64_t size = FileLength(report.volumes[i]);
        if (size > 0)
            report.streamBytes += static_cast<std::uint64_t>(size);
    }
    if (report.volumeCount > 0)
        report.streamBytes =
            report.streamBytes >= PACKED_HEADER_SIZE ? report.streamBytes - PACKED_HEADER_SIZE : 0;

    DecodeRun run;
    run.reader.volumes = &report.volumes;
    run.reader.skipHeader = report.volumeCount > 0;
    Sha256 digest;
    run.digest = request.restoredDigest ? &digest : nullptr;
    run.output = request.decodedBytes ? &request.decodedBytes : nullptr;
    run.progressTotal = report.streamBytes;
    const unsigned result = Decode(run);
    const std::uint64_t endCodeBits =
        result == CODEC_OK ? ExplodeEndCodeBits(JobCodecWorkArea().bytes) : 0;
    report.restoredBytes = run.written;
    if (request.restoredDigest)
        report.restoredDigest = digest.FinalHex();
    if (run.reader.failed) {
        report.verdict = PackedFileReport::ReadError;
        if (run.reader.failedVolume >= 0) {
            report.badVolume = run.reader.failedVolume;
            report.badPath = report.volumes[static_cast<std::size_t>(run.reader.failedVolume)];
            report.error = run.reader.error;
        }
        return report;
    }
    switch (result) {
    case CODEC_OK: report.verdict = PackedFileReport::Sound; break;
    case CODEC_TOO_SHORT: report.verdict = PackedFileReport::TooShort; break;
    case CODEC_BAD_DICT_SIZE:
    case CODEC_BAD_TYPE: report.verdict = PackedFileReport::NotAStream; break;
    default: report.verdict = PackedFileReport::StreamEnded; break;
    }
    // The compressor's stream of an empty file is complete although the decoder refuses it.
    if (result == CODEC_TOO_SHORT && report.streamBytes == 4) {
        DecodeRun again;
        again.reader.volumes = &report.volumes;
        again.reader.skipHeader = report.volumeCount > 0;
        unsigned char bytes[4] = {};
        if (again.reader.Read(bytes, sizeof bytes) == sizeof bytes &&
            IsEmptyStream(bytes, sizeof bytes)) {
            report.verdict = PackedFileReport::Sound;
            report.emptyStream = true;
        }
    }

    if (report.volumeCount > 0)
        CheckSetShape(report, request.volumeSearchDirs);
    // A set whose sizes are all right but whose stream stops short has lost the end of its
    // last volume: that is the disk to name.
    if (report.volumeCount > 1 && report.verdict == PackedFileReport::StreamEnded &&
        MeasureSet(report.volumes).Sound())
        report.warnings.push_back(FormatText(LoadString(IDS_CHECK_LAST_CUT_SHORT).c_str(),
                                             report.volumes.back().c_str()));

    // The unpack job's own rule: what it would not restore is no sound file, even when the
    // decoder meets an end code.
    if (report.verdict == PackedFileReport::Sound) {
        const SetShape shape = report.volumeCount > 0 ? MeasureSet(report.volumes) : SetShape{};
        const std::uint64_t left = report.streamBytes - run.reader.delivered;
        const auto unread = static_cast<std::int64_t>(std::min<std::uint64_t>(left, INT64_MAX));
        if (!StreamRestores(result, unread, report.emptyStream,
                            report.volumeCount > 0 ? &shape : nullptr))
            report.verdict = PackedFileReport::Damaged;
    }

    // The stream's last byte holds the last bits of its end code: when the stream would
    // still decode completely without its last byte, something follows the end code.
    if (result == CODEC_OK && report.streamBytes > 0) {
        const bool endsEarlier = (endCodeBits + 7) / 8 < report.streamBytes;
        // In a set the data behind the end code is at the end of the last volume.
        if (endsEarlier && report.volumeCount > 1)
            report.warnings.push_back(FormatText(LoadString(IDS_CHECK_TRAILING_IN_LAST).c_str(),
                                                 report.volumes.back().c_str()));
        else if (endsEarlier)
            report.warnings.push_back(LoadString(IDS_CHECK_TRAILING_DATA));
    }
    return report;
}

ManifestFindings CheckAgainstManifest(const PackedFileReport& report, const ManifestCheck& manifest)
{
    ManifestFindings findings;
    const char* manifestPath = manifest.strPath.c_str();
    for (const std::string& volume : report.volumes) {
        const ManifestMatch match = CheckFileAgainstManifest(manifest.entries, volume);
        if (match == ManifestMatch::Matches)
            continue;
        findings.bMatches = false;
        const unsigned id = match == ManifestMatch::NotListed ? IDS_CLI_MANIFEST_NOT_LISTED
                                                              : IDS_CLI_MANIFEST_MISMATCH;
        findings.lines.push_back(FormatText(LoadString(id).c_str(), volume.c_str(), manifestPath));
    }
    const ManifestEntry* project = FindProjectEntry(manifest.entries, report.volumes);
    const bool decoded = report.verdict == PackedFileReport::Sound;
    if (project && decoded && project->strDigest != report.restoredDigest) {
        findings.bMatches = false;
        findings.lines.push_back(
            FormatText(LoadString(IDS_CLI_TEST_RESTORED_MISMATCH).c_str(), manifestPath));
    }
    if (findings.bMatches && !report.volumes.empty())
        findings.lines.push_back(
            FormatText(LoadString(project && decoded ? IDS_CLI_MANIFEST_ALL_MATCH
                                                     : IDS_CLI_MANIFEST_SET_MATCHES)
                           .c_str(),
                       static_cast<long>(report.volumes.size()), manifestPath));
    return findings;
}

std::string DescribeVerdict(const PackedFileReport& report, const std::string& path)
{
    const char* file = path.c_str();
    auto text = [](unsigned id) { return LoadString(id); };
    switch (report.verdict) {
    case PackedFileReport::Sound:
        if (report.volumeCount == 1)
            return FormatText(text(IDS_CLI_TEST_SOUND_SET_OF_ONE).c_str(), file,
                              static_cast<long>(report.restoredBytes));
        return report.volumeCount > 0 ? FormatText(text(IDS_CLI_TEST_SOUND_SET).c_str(), file,
                                                   static_cast<long>(report.volumeCount),
                                                   static_cast<long>(report.restoredBytes))
                                      : FormatText(text(IDS_CLI_TEST_SOUND).c_str(), file,
                                                   static_cast<long>(report.restoredBytes));
    case PackedFileReport::CannotOpen:
        if (report.error != 0)
            return FormatText(text(IDS_CLI_TEST_CANNOT_OPEN_REASON).c_str(), file,
                              InputErrorText(report.error).c_str());
        return FormatText(text(IDS_CLI_TEST_CANNOT_OPEN).c_str(), file);
    case PackedFileReport::BadCount:
        return FormatText(text(IDS_CLI_TEST_BAD_COUNT).c_str(), file,
                          static_cast<long>(report.volumeCount));
    case PackedFileReport::VolumeMissing:
        return FormatText(text(IDS_CLI_TEST_VOLUME_MISSING).c_str(), file,
                          static_cast<long>(report.missingVolume),
                          static_cast<long>(report.volumeCount - 1), report.missingName.c_str());
    case PackedFileReport::ReadError:
        if (report.badVolume >= 0 && report.volumeCount > 0)
            return FormatText(text(IDS_CLI_TEST_VOLUME_UNREADABLE).c_str(), file,
                              static_cast<long>(report.badVolume), report.badPath.c_str(),
                              InputErrorText(report.error).c_str());
        return FormatText(text(IDS_CLI_TEST_READ_ERROR).c_str(), file);
    case PackedFileReport::TooShort:
        return FormatText(text(IDS_CLI_TEST_TOO_SHORT).c_str(), file,
                          static_cast<long>(report.streamBytes));
    case PackedFileReport::NotAStream:
        return FormatText(text(IDS_CLI_TEST_NOT_A_STREAM).c_str(), file);
    case PackedFileReport::Damaged: return FormatText(text(IDS_CLI_TEST_DAMAGED).c_str(), file);
    case PackedFileReport::StreamEnded:
        return FormatText(text(IDS_CLI_TEST_STREAM_ENDED).c_str(), file,
                          static_cast<long>(report.restoredBytes));
    }
    return {};
}
