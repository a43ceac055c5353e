// packtool-cli explode [INPUT [OUTPUT]]: decodes one implode stream, from a file or standard
// input to a file or standard output.
//
// A named output that is a regular file (or not there yet) is written beside its final name
// and renamed into place when the decoder is done, so the name never holds half a file; a new
// one takes the input's permission bits, a replaced one keeps its own. A device, a FIFO or a
// socket is written straight and never replaced. Binary data is not written to a terminal
// unless forced. When the stream ends before its end
// code, what was decoded is still kept in a new file (a damaged packed file often holds most of
// a project), and the exit status says that the stream was incomplete; an older file is only
// ever replaced by a complete result, and a failed read keeps nothing. Header errors leave no output.
// The compressor writes an empty input as a 4-byte stream that the decoder refuses as too
// short; the command turns it back into an empty output, so that every file round-trips.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/options.h"
#include "codec/codec.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

struct ExplodeFiles {
    std::FILE* in = nullptr;
    std::FILE* out = nullptr;
    unsigned char head[4] = {0, 0, 0, 0}; // the first bytes of the input
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
    bool wrote = false; // explode made at least one write call
    int readErrno = 0;  // first read error, 0 if none
    int writeErrno = 0; // first write error, 0 if none
};

unsigned ReadInput(unsigned char* buf, unsigned* size, void* param)
{
    auto& files = *static_cast<ExplodeFiles*>(param);
    if (files.writeErrno != 0 || files.readErrno != 0)
        return 0; // a failed write ends the decoding: nothing more can reach the output
    errno = 0;
    const std::size_t n = ReadBytes(buf, *size, files.in);
    if (n < *size && StreamFailed(files.in) && files.readErrno == 0)
        files.readErrno = errno != 0 ? errno : EIO;
    for (std::size_t i = 0; i < n && files.bytesRead + i < sizeof files.head; ++i)
        files.head[files.bytesRead + i] = buf[i];
    files.bytesRead += n;
    return static_cast<unsigned>(n);
}

void WriteOutput(unsigned char* buf, unsigned* size, void* param)
{
    auto& files = *static_cast<ExplodeFiles*>(param);
    files.wrote = true;
    if (files.writeErrno != 0 || *size == 0)
        return;
    errno = 0;
    if (WriteBytes(buf, *size, files.out) != *size)
        files.writeErrno = errno != 0 ? errno : EIO;
    files.bytesWritten += *size;
}

std::string Reason(unsigned result, const ExplodeFiles& files)
{
    switch (result) {
    case CODEC_TOO_SHORT:
        return "the input is too short to be a compressed stream (" +
               std::to_string(files.bytesRead) + " bytes; at least 5 are needed)";
    case CODEC_BAD_DICT_SIZE:
        return "unknown dictionary size (header byte 1 is " + std::to_string(files.head[1]) +
               "; 4, 5 or 6 expected)";
    case CODEC_BAD_TYPE:
        return "unknown literal coding (header byte 0 is " + std::to_string(files.head[0]) +
               "; 0 or 1 expected)";
    case CODEC_STREAM_ENDED:
        return "the stream ends before its end code; the " + std::to_string(files.bytesWritten) +
               " bytes decoded up to there were written";
    default: return "unexpected result " + std::to_string(result);
    }
}

// The compressor's stream for an empty input: a valid header and the end code alone, four
// bytes, which the decoder refuses as too short. It stands for an empty file.
bool IsEmptyStream(const ExplodeFiles& files)
{
    return files.bytesRead == 4 && files.head[0] <= CODEC_ASCII && files.head[1] >= 4 &&
           files.head[1] <= 6 && files.head[2] == 0x01 && files.head[3] == 0xFF;
}

void Complain(const std::string& text)
{
    std::fprintf(stderr, "packtool-cli explode: %s\n", text.c_str());
}

std::string DisplayName(const std::string& path, const char* stdName)
{
    return path == "-" ? std::string(stdName) : "'" + path + "'";
}

struct ExplodeOptions {
    std::string input = "-";
    std::string output = "-";
    bool force = false;
};

int RunExplode(const ExplodeOptions& options)
{
    UseLanguage("");
    const std::string& inputPath = options.input;
    const std::string& outputPath = options.output;
    const bool force = options.force;
    const std::string inName = DisplayName(inputPath, "standard input");
    const std::string outName = DisplayName(outputPath, "standard output");
    // A closed standard stream is no empty input and no place to write to.
    if ((inputPath == "-" && !StandardStreamUsable(STDIN_FILENO, "explode")) ||
        (outputPath == "-" && !StandardStreamUsable(STDOUT_FILENO, "explode")))
        return EXIT_FAILED;
    ExplodeFiles files;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> inputFile(nullptr, CloseStream);
    if (inputPath == "-") {
        files.in = stdin;
    } else {
        inputFile.reset(std::fopen(inputPath.c_str(), "rb"));
        if (!inputFile) {
            Complain("cannot open '" + inputPath + "': " + std::strerror(errno));
            return EXIT_FAILED;
        }
        files.in = inputFile.get();
    }
    // Nobody types a compressed stream: a terminal as the input is a forgotten file name.
    if (!force && isatty(fileno(files.in))) {
        std::fprintf(
            stderr, "%s\n",
            FormatText(LoadString(IDS_CLI_STREAM_FROM_TERMINAL).c_str(), "explode").c_str());
        return EXIT_FAILED;
    }
    UseLargeInputBuffer(files.in);

    OutputFile output;
    if (outputPath == "-") {
        files.out = stdout;
        UseLargeOutputBuffer(stdout);
    } else {
        if (!output.Open(outputPath, TEMP_FILE_PREFIX,
                         inputPath == "-" ? std::string() : inputPath)) {
            Complain("cannot create '" + outputPath + "': " + std::strerror(errno));
            return EXIT_FAILED;
        }
        files.out = output.Stream();
    }
    if (!force && isatty(fileno(files.out))) {
        std::fprintf(stderr, "%s\n",
                     FormatText(LoadString(IDS_CLI_BINARY_TO_TERMINAL).c_str(), "explode").c_str());
        return EXIT_FAILED;
    }

    auto work = std::make_unique<CodecWorkArea>();
    unsigned result = explode(ReadInput, WriteOutput, work.get(), &files);
    if (result == CODEC_TOO_SHORT && files.readErrno == 0 && IsEmptyStream(files)) {
        result = CODEC_OK;
        files.wrote = true; // an empty output is the decoded result
    }
    if (files.readErrno == ECANCELED || files.writeErrno == ECANCELED || CancelRequested())
        return EXIT_FAILED; // a signal stopped it (the output is abandoned); main says so

    if (outputPath == "-" && files.writeErrno == 0 && std::fflush(files.out) != 0)
        files.writeErrno = errno != 0 ? errno : EIO;
    if (files.writeErrno != 0) {
        Complain("cannot write " + outName + ": " + std::strerror(files.writeErrno));
        return EXIT_FAILED; // the pending output is removed
    }
    // Keep what a damaged stream decoded when decoding ran (a header error decoded nothing), but
    // only under a name that held nothing: an older file is replaced by a complete result only,
    // and a failed read is no damaged stream, so its part is not kept at all.
    const bool complete = files.readErrno == 0 && result == CODEC_OK;
    const bool keepPart = files.readErrno == 0 && !output.ReplacesFile();
    if (outputPath != "-" && files.wrote && !complete && !keepPart) {
        output.Abandon();
        files.wrote = false;
        if (output.ReplacesFile())
            Complain("'" + outputPath + "' was left as it was");
    } else if (outputPath != "-" && files.wrote) {
        if (!output.Commit()) {
            const int error = errno;
            if (error == ECANCELED)
                return EXIT_FAILED;
            Complain("cannot write " + outName + ": " + std::strerror(error));
            return EXIT_FAILED;
        }
    }
    if (files.readErrno != 0) {
        Complain("cannot read " + inName + ": " + std::strerror(files.readErrno) +
                 (files.wrote ? "; the " + std::to_string(files.bytesWritten) +
                                    " bytes decoded up to there were written"
                              : std::string()));
        return EXIT_FAILED;
    }
    if (result != CODEC_OK) {
        Complain(Reason(result, files));
        return EXIT_FAILED;
    }
    return 0;
}

void DeclareExplodeOptions(CLI::App& cmd, ExplodeOptions& options)
{
    cmd.add_flag("-f,--force", options.force,
                 "Read the compressed stream even from a terminal, and write the decoded data "
                 "even to one");
    cmd.add_option("INPUT", options.input,
                   "Compressed stream to read; - or absent: standard input");
    cmd.add_option("OUTPUT", options.output,
                   "File to write the decoded bytes to; - or absent: standard output");
}

const CommandRegistration registration(90, "explode",
                                       "Decompress one implode stream (a whole packed file is one)",
                                       DeclareExplodeOptions, RunExplode);

} // namespace
