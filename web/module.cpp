// The page's WebAssembly module: the engine's test of a packed file, the restore and the pack,
// driven on the files the page hands to its Web Worker.
//
// The worker mounts the files the user chose in one folder (read in place, never copied whole)
// and makes it the current directory, so the engine finds a set's volumes beside volume 0 by
// name as it does on disk. The verdict on a packed file is the console's `test`: the same
// CheckPackedFile, DescribeVerdict, manifest checks and texts. The bytes restored and packed go
// out through pw_emit to the worker, which keeps them as Blob pieces: nothing of a large file
// is held in the module's memory.
//
// Each entry point returns a JSON object as text, valid until the next call.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <emscripten.h>

#include "cli/volumesize.h"
#include "codec/codec.h"
#include "engine/codecwork.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "engine/join.h"
#include "engine/manifest.h"
#include "engine/names.h"
#include "engine/packcheck.h"
#include "engine/packedformat.h"
#include "engine/volumeplan.h"
#include "platform/files.h"
#include "platform/mainwindow.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "web/codec_bench.h"
#include "platform/json.h"

// The worker's side of the module (worker.js).
EM_JS(void, pw_emit, (const unsigned char* bytes, unsigned count),
      { Module.onOutput(HEAPU8.subarray(bytes, bytes + count)); });
EM_JS(void, pw_progress, (int step, int percent), { Module.onProgress(step, percent); });

namespace {

// Progress steps the page names: checking the set, writing what it restores, packing.
enum Step {
    STEP_CHECK = 0,
    STEP_RESTORE = 1,
    STEP_PACK = 2
};

// The page as the jobs' main window: everything runs on the worker's one thread, nobody is
// there to answer a question (a missing volume stays missing), and what a job logs or shows
// in a box is kept for the page.
class PageHost final : public MainWindowHost {
public:
    int step = STEP_CHECK;
    std::string log;
    std::vector<std::string> boxes;

    void RunOnMainAndWait(const std::function<void()>& fn) override { fn(); }
    void RunOnMainLater(std::function<void()> fn) override { fn(); }
    void JobStateChanged(JobState) override {}
    void JobBusy() override {}
    void JobBusyEnded() override {}
    // The closing line ends the log, as it ends the console's.
    void JobEnded(JobKind, bool, const std::string& closingLine) override { log += closingLine; }
    bool AppendToStatusLog(const std::string& text) override
    {
        log += text;
        return true;
    }
    void SetProgressPosition(int percent) override { pw_progress(step, percent); }
    void SetStatusPaneText(const std::string&) override {}
    int ShowMessageBox(const std::string& text, unsigned type) override
    {
        boxes.push_back(text);
        return (type & MB_OKCANCEL) ? IDCANCEL : IDOK;
    }
    std::optional<std::string> FindVolume(const FindVolumeRequest&) override
    {
        return std::nullopt;
    }
};

PageHost g_host;
std::string g_result;

void BeginCall(int step)
{
    SetMainWindowHost(&g_host);
    g_host.step = step;
    g_host.log.clear();
    g_host.boxes.clear();
}

const char* Finish(const JsonObject& object)
{
    g_result = object.Text();
    return g_result.c_str();
}

const char* VerdictName(PackedFileReport::Verdict verdict)
{
    switch (verdict) {
    case PackedFileReport::Sound: return "sound";
    case PackedFileReport::CannotOpen: return "cannotOpen";
    case PackedFileReport::BadCount: return "badCount";
    case PackedFileReport::VolumeMissing: return "volumeMissing";
    case PackedFileReport::ReadError: return "readError";
    case PackedFileReport::TooShort: return "tooShort";
    case PackedFileReport::NotAStream: return "notAStream";
    case PackedFileReport::StreamEnded: return "streamEnded";
    case PackedFileReport::Damaged: return "damaged";
    }
    return "";
}

// A FILE whose bytes go to the worker through pw_emit.
std::FILE* OpenEmitStream()
{
    cookie_io_functions_t functions{};
    functions.write = [](void*, const char* bytes, std::size_t count) -> ssize_t {
        pw_emit(reinterpret_cast<const unsigned char*>(bytes), static_cast<unsigned>(count));
        return static_cast<ssize_t>(count);
    };
    return fopencookie(nullptr, "wb", functions);
}

} // namespace

extern "C" {

// 0 English, 1 Japanese: the language of every text the module returns.
EMSCRIPTEN_KEEPALIVE void pw_set_language(int japanese)
{
    SetLanguage(japanese ? Language::Japanese : Language::English);
}

// The set that the packed file `name` (in the current folder) begins: its volume count from
// the header (0 for a single packed file, -1 without a readable header) and, for a set, each
// volume's expected name and the name found for it, ignoring letter case as the unpack does.
EMSCRIPTEN_KEEPALIVE const char* pw_describe_set(const char* name)
{
    BeginCall(STEP_CHECK);
    JsonObject object;
    const PackedHeaderRead header = ReadPackedHeaderOf(name);
    object.Add("isSet", header.bHeader);
    object.Add("count", header.bHeader ? header.nCount : 0);
    object.Add("project", ProjectNameFor(name));
    JsonArray volumes;
    const PathParts parts = SplitPath(name);
    for (int i = 0; header.bHeader && i < header.nCount; ++i) {
        JsonObject volume;
        const std::string expected = parts.name + "." + JoinedVolumeExtension(i);
        volume.Add("expected", expected);
        volume.Add("found", FindFileIgnoringCase("", expected));
        volumes.Add(volume);
    }
    object.Add("volumes", volumes);
    return Finish(object);
}

// Tests the packed file `name` as `packtool-cli test` does, and checks a manifest of ours
// beside it. The test's own decoding goes out through pw_emit as it runs, so the stream is
// decoded once: the page keeps the bytes as the project file when the answer says "sound",
// as what a damaged stream decoded (the project file's name with ".broken") when it says
// "keepable", and drops them otherwise.
EMSCRIPTEN_KEEPALIVE const char* pw_check(const char* name)
{
    BeginCall(STEP_RESTORE);
    ClearCancelRequest();
    const ManifestCheck manifest = ExamineManifest(name);
    const bool hasManifest = manifest.kind == ManifestCheck::Ours;
    CheckRequest request;
    request.packedPath = name;
    request.restoredDigest = hasManifest;
    request.decodedBytes = [](const unsigned char* bytes, std::size_t count) {
        pw_emit(bytes, static_cast<unsigned>(count));
    };
    const PackedFileReport report = CheckPackedFile(request);

    JsonObject object;
    object.Add("verdict", VerdictName(report.verdict));
    object.Add("text", DescribeVerdict(report, name));
    object.Add("volumeCount", report.volumeCount);
    object.Add("missingVolume", report.missingVolume);
    object.Add("missingName", report.missingName);
    object.Add("restoredBytes", static_cast<double>(report.restoredBytes));
    JsonArray warnings;
    if (!manifest.strWarning.empty())
        warnings.Add(manifest.strWarning);
    for (const std::string& warning : report.warnings)
        warnings.Add(warning);
    object.Add("warnings", warnings);
    bool manifestMatches = true;
    JsonArray manifestLines;
    if (hasManifest) {
        const ManifestFindings findings = CheckAgainstManifest(report, manifest);
        for (const std::string& line : findings.lines)
            manifestLines.Add(line);
        manifestMatches = findings.bMatches;
    }
    object.Add("manifest", hasManifest);
    object.Add("manifestMatches", manifestMatches);
    object.Add("manifestLines", manifestLines);

    const bool sound = report.verdict == PackedFileReport::Sound && manifestMatches;
    // What the unpack keeps of a damaged stream: the output of a decoder that met an end
    // code too early or ran out of input, never of a stream that is no stream at all.
    const bool keepable = report.verdict == PackedFileReport::Damaged ||
                          report.verdict == PackedFileReport::StreamEnded;
    object.Add("sound", sound);
    object.Add("keepable", keepable);
    object.Add("project", ProjectNameFor(name));
    if (!sound && report.verdict != PackedFileReport::Sound)
        object.Add("invalid", FormatText(LoadString(IDS_INVALID_FILE_FORMAT).c_str(), name));
    return Finish(object);
}

// Packs the project file `name` as `packtool-cli pack` does (with --split SIZE when split is
// not empty): the stream goes out through pw_emit, and the answer names the files to write,
// with their sizes and volume 0's header. The page cuts the stream into them.
EMSCRIPTEN_KEEPALIVE const char* pw_pack(const char* name, const char* split)
{
    BeginCall(STEP_PACK);
    JsonObject object;
    long long volumeSize = 0;
    if (split[0] != '\0') {
        const auto size = ParseVolumeSize(split);
        if (!size || *size < kSmallestVolumeSize || *size > INT_MAX) {
            object.Add("error", FormatText(LoadString(IDS_CLI_BAD_VOLUME_SIZE).c_str(), split));
            return Finish(object);
        }
        volumeSize = *size;
    }
    std::FILE* project = std::fopen(name, "rb");
    std::FILE* out = project ? OpenEmitStream() : nullptr;
    if (!out) {
        if (project)
            CloseStream(project);
        object.Add("error", FormatText(LoadString(IDS_CANNOT_OPEN_FILE).c_str(), name));
        return Finish(object);
    }
    UseLargeInputBuffer(project);
    const CompressContext context = CompressLikeThePackJob(project, out, 1);
    CloseStream(project);
    std::fclose(out);
    if (context.bReadFailed) {
        object.Add("error", FormatText(LoadString(IDS_CANNOT_OPEN_FILE).c_str(), name));
        return Finish(object);
    }
    const auto streamLength = static_cast<std::int64_t>(context.nCompressed);
    const std::string packedName = PackedNameFor(name);
    if (volumeSize > 0 && VolumeCountFor(streamLength, volumeSize) > MAX_VOLUMES) {
        object.Add("error",
                   FormatText(LoadString(IDS_CLI_PLAN_TOO_MANY).c_str(),
                              static_cast<long long>(VolumeCountFor(streamLength, volumeSize))));
        return Finish(object);
    }
    object.Add("streamBytes", static_cast<double>(streamLength));
    object.Add("projectBytes", static_cast<double>(context.nInRead));
    JsonArray files;
    for (const PlannedVolume& volume :
         PlanVolumes(packedName, streamLength, static_cast<int>(volumeSize))) {
        JsonObject file;
        file.Add("name", volume.strPath);
        file.Add("size", static_cast<double>(volume.nSize));
        files.Add(file);
    }
    object.Add("files", files);
    JsonArray header;
    if (volumeSize > 0)
        for (unsigned char byte :
             MakePackedFileHeader(static_cast<int>(VolumeCountFor(streamLength, volumeSize))))
            header.Add(static_cast<int>(byte));
    object.Add("header", header);
    return Finish(object);
}

} // extern "C"

extern "C" {

// The benchmark's entry (bench/web_bench.sh): the fastest of reps runs of implode (implode
// set) or explode of the file `name`, in milliseconds, and a checksum of what it wrote.
EMSCRIPTEN_KEEPALIVE const char* pw_bench(const char* name, int implode, int reps)
{
    std::vector<unsigned char> input;
    if (std::FILE* file = std::fopen(name, "rb")) {
        unsigned char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file)) > 0)
            input.insert(input.end(), buf, buf + n);
        std::fclose(file);
    }
    std::vector<unsigned char> output;
    const double ms = codecbench::BestMilliseconds(input, implode != 0, reps, output);
    Sha256 digest;
    digest.Update(output.data(), output.size());
    JsonObject object;
    object.Add("ms", ms);
    object.Add("bytes", static_cast<double>(input.size()));
    object.Add("outputBytes", static_cast<double>(output.size()));
    object.Add("sha256", digest.FinalHex());
    return Finish(object);
}

} // extern "C"
