// packtool-cli implode: compresses a file, or standard input, into one bare implode stream
// (no packed-file header), the way the pack job does but with every coding and dictionary.
//
// A named output file is written beside its final name under a temporary one and renamed
// only when everything was read and written, so a failed run never leaves a truncated
// stream under the name asked for.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/commands.h"
#include "codec/codec.h"
#include "codec/implode_parallel.h"

namespace {

constexpr int EXIT_FAILED = 1;

struct ImplodeOptions {
    bool ascii = false;
    unsigned dictSize = 4096;
    std::string input = "-";
    std::string output = "-";
    unsigned threads = ImplodeMachineThreads();
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
    const std::size_t got = std::fread(buf, 1, *size, io.in);
    if (got < *size && std::ferror(io.in))
        io.readError = errno != 0 ? errno : EIO;
    return static_cast<unsigned>(got);
}

void WriteOutput(unsigned char* buf, unsigned* size, void* param)
{
    auto& io = *static_cast<ImplodeStreams*>(param);
    if (io.writeError != 0 || *size == 0)
        return;
    errno = 0;
    if (std::fwrite(buf, 1, *size, io.out) != *size)
        io.writeError = errno != 0 ? errno : EIO;
}

std::string DisplayName(const std::string& path, const char* stdName)
{
    return path == "-" ? std::string(stdName) : "'" + path + "'";
}

void Complain(const char* what, const std::string& name, int error)
{
    std::fprintf(stderr, "packtool-cli implode: cannot %s %s: %s\n", what, name.c_str(), std::strerror(error));
}

// Creates a temporary file beside `path`, with the permissions a new file would get.
std::FILE* CreateBeside(const std::string& path, std::string& tempPath)
{
    tempPath = path + ".tmpXXXXXX";
    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0)
        return nullptr;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    std::FILE* f = ::fdopen(fd, "wb");
    if (f == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(tempPath.c_str());
        errno = error;
    }
    return f;
}

int RunImplode(const ImplodeOptions& opt)
{
    const std::string inName = DisplayName(opt.input, "standard input");
    const std::string outName = DisplayName(opt.output, "standard output");
    ImplodeStreams io;

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> inFile(nullptr, std::fclose);
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

    std::string tempPath;
    if (opt.output == "-") {
        io.out = stdout;
    } else {
        io.out = CreateBeside(opt.output, tempPath);
        if (io.out == nullptr) {
            Complain("write", outName, errno);
            return EXIT_FAILED;
        }
    }

    auto work = std::make_unique<CodecWorkArea>(); // zeroed: the same input gives the same bytes
    const unsigned type = opt.ascii ? CODEC_ASCII : CODEC_BINARY;
    const unsigned result =
        implode_parallel(ReadInput, WriteOutput, work->bytes, &io, &type, &opt.dictSize, opt.threads);

    if (io.writeError == 0 && std::fflush(io.out) != 0)
        io.writeError = errno;
    if (!tempPath.empty()) {
        // Forced to the disk before the rename, so the name never holds an empty file after
        // a power failure.
        if (io.writeError == 0 && ::fsync(::fileno(io.out)) != 0)
            io.writeError = errno;
        if (std::fclose(io.out) != 0 && io.writeError == 0)
            io.writeError = errno;
        if (io.readError == 0 && io.writeError == 0 && result == CODEC_OK
            && std::rename(tempPath.c_str(), opt.output.c_str()) != 0)
            io.writeError = errno;
        if (io.readError != 0 || io.writeError != 0 || result != CODEC_OK)
            ::unlink(tempPath.c_str());
    }

    if (io.readError != 0) {
        Complain("read", inName, io.readError);
        return EXIT_FAILED;
    }
    if (io.writeError != 0) {
        Complain("write", outName, io.writeError);
        return EXIT_FAILED;
    }
    if (result != CODEC_OK) { // the options allow only valid parameters
        std::fprintf(stderr, "packtool-cli implode: compressor refused the parameters (code %u)\n", result);
        return EXIT_FAILED;
    }
    return 0;
}

void AddImplodeCommand(CLI::App& app, int& exitStatus)
{
    auto opt = std::make_shared<ImplodeOptions>();
    CLI::App* cmd = app.add_subcommand(
        "implode", "Compress INPUT into one bare implode stream (no packed-file header) in OUTPUT");
    cmd->add_flag("--ascii", opt->ascii, "Code literals with the ASCII code tuned for text (default: binary)");
    cmd->add_option("--dict", opt->dictSize, "Dictionary size in bytes")
        ->check(CLI::IsMember({1024u, 2048u, 4096u}))
        ->capture_default_str();
    AddThreadsOption(*cmd, opt->threads);
    cmd->add_option("INPUT", opt->input, "File to compress; standard input when absent or \"-\"");
    cmd->add_option("OUTPUT", opt->output, "Stream to write; standard output when absent or \"-\"");
    cmd->callback([opt, &exitStatus] { exitStatus = RunImplode(*opt); });
}

} // namespace

static CommandRegistration reg(80, AddImplodeCommand);
