// packtool-cli implode: compresses a file, or standard input, into one bare implode stream
// (no packed-file header), the way the pack job does but with every coding and dictionary.
//
// A named output that is a regular file (or not there yet) is written beside its final name
// under a temporary one and renamed only when everything was read and written, so a failed run
// never leaves a truncated stream under the name asked for; a new one takes the input's
// permission bits, a replaced one keeps its own. A device, a FIFO or a socket is written
// straight and never replaced. Binary data is not written to a terminal unless forced.
#include <cerrno>
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
#include "codec/implode_parallel.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

struct ImplodeOptions {
    bool ascii = false;
    unsigned dictSize = 4096;
    std::string input = "-";
    std::string output = "-";
    unsigned threads = ImplodeMachineThreads();
    bool force = false;
};

// What the codec's callbacks work on; the codec cannot stop on an error, so the first one is
// recorded here and the callbacks do nothing more after it.
struct ImplodeStreams {
    std::FILE* in = nullptr;
    std::FILE* out = nullptr;
    int readError = 0;
    int writeError = 0;
};

unsigned ReadInput(unsigned char* buf, unsigned* size, void* param)
{
    auto& io = *static_cast<ImplodeStreams*>(param);
    if (io.readError != 0 || io.writeError != 0)
        return 0; // ends the input; the run is reported as failed
    errno = 0;
    const std::size_t got = ReadBytes(buf, *size, io.in);
    if (got < *size && StreamFailed(io.in))
        io.readError = errno != 0 ? errno : EIO;
    return static_cast<unsigned>(got);
}

void WriteOutput(unsigned char* buf, unsigned* size, void* param)
{
    auto& io = *static_cast<ImplodeStreams*>(param);
    if (io.writeError != 0 || *size == 0)
        return;
    errno = 0;
    if (WriteBytes(buf, *size, io.out) != *size)
        io.writeError = errno != 0 ? errno : EIO;
}

std::string DisplayName(const std::string& path, const char* stdName)
{
    return path == "-" ? std::string(stdName) : "'" + path + "'";
}

void Complain(const char* what, const std::string& name, int error)
{
    std::fprintf(stderr, "packtool-cli implode: cannot %s %s: %s\n", what, name.c_str(),
                 std::strerror(error));
}

int RunImplode(const ImplodeOptions& opt)
{
    UseLanguage("");
    const std::string inName = DisplayName(opt.input, "standard input");
    const std::string outName = DisplayName(opt.output, "standard output");
    ImplodeStreams io;
    // A closed standard stream is no empty input and no place to write to.
    if ((opt.input == "-" && !StandardStreamUsable(STDIN_FILENO, "implode")) ||
        (opt.output == "-" && !StandardStreamUsable(STDOUT_FILENO, "implode")))
        return EXIT_FAILED;

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> inFile(nullptr, CloseStream);
    if (opt.input == "-") {
        io.in = stdin;
    } else {
        inFile.reset(std::fopen(opt.input.c_str(), "rb"));
        if (!inFile) {
            Complain("read", inName, errno);
            return EXIT_FAILED;
        }
        io.in = inFile.get();
    }
    UseLargeInputBuffer(io.in);

    OutputFile output;
    if (opt.output == "-") {
        io.out = stdout;
        UseLargeOutputBuffer(stdout);
    } else {
        if (!output.Open(opt.output, TEMP_FILE_PREFIX,
                         opt.input == "-" ? std::string() : opt.input)) {
            Complain("write", outName, errno);
            return EXIT_FAILED;
        }
        io.out = output.Stream();
    }
    if (!opt.force && isatty(fileno(io.out))) {
        std::fprintf(stderr, "%s\n",
                     FormatText(LoadString(IDS_CLI_BINARY_TO_TERMINAL).c_str(), "implode").c_str());
        return EXIT_FAILED;
    }

    auto work = std::make_unique<CodecWorkArea>(); // zeroed: the same input gives the same bytes
    const unsigned type = opt.ascii ? CODEC_ASCII : CODEC_BINARY;
    const unsigned result = implode_parallel(ReadInput, WriteOutput, work->bytes, &io, &type,
                                             &opt.dictSize, opt.threads);

    if (opt.output == "-") {
        if (io.writeError == 0 && std::fflush(io.out) != 0)
            io.writeError = errno;
    } else if (io.readError != 0 || io.writeError != 0 || result != CODEC_OK) {
        output.Abandon();
    } else if (!output.Commit()) {
        io.writeError = errno;
    }
    if (io.readError == ECANCELED || io.writeError == ECANCELED)
        return EXIT_FAILED; // a signal stopped it; main says so

    if (io.readError != 0) {
        Complain("read", inName, io.readError);
        return EXIT_FAILED;
    }
    if (io.writeError != 0) {
        Complain("write", outName, io.writeError);
        return EXIT_FAILED;
    }
    if (result != CODEC_OK) { // the options allow only valid parameters
        std::fprintf(stderr, "packtool-cli implode: compressor refused the parameters (code %u)\n",
                     result);
        return EXIT_FAILED;
    }
    return 0;
}

void DeclareImplodeOptions(CLI::App& cmd, ImplodeOptions& options)
{
    cmd.add_flag("--ascii", options.ascii,
                 "Code literals with the ASCII code tuned for text (default: binary)");
    cmd.add_option("--dict", options.dictSize, "Dictionary size in bytes")
        ->check(CLI::IsMember({1024u, 2048u, 4096u}))
        ->capture_default_str();
    AddThreadsOption(cmd, options.threads);
    cmd.add_flag("-f,--force", options.force, "Write the compressed data even to a terminal");
    cmd.add_option("INPUT", options.input, "File to compress; standard input when absent or \"-\"");
    cmd.add_option("OUTPUT", options.output,
                   "Stream to write; standard output when absent or \"-\"");
}

const CommandRegistration
    registration(80, "implode",
                 "Compress INPUT into one bare implode stream (no packed-file header) in OUTPUT",
                 DeclareImplodeOptions, RunImplode);

} // namespace
