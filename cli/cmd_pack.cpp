// packtool-cli pack: the pack job of the desktop program, run on its worker thread with the
// console as its main window.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "cli/commands.h"
#include "cli/consolehost.h"
#include "engine/format.h"
#include "engine/packjob.h"
#include "platform/strings.h"
#include "resources/textids.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// The volume size when no split is asked for: what the Pack dialog selects first.
constexpr int kDefaultVolumeSize = 1440000;
// Smaller volumes are of no use on any disk and only multiply the files.
constexpr long long kSmallestVolumeSize = 1000;

struct PackOptions {
    std::string file;
    bool yes = false;
    bool no = false;
    std::string lang;
    std::string split;
};

// "1.44M", "720K", "250000", "100KB": a decimal number of bytes with an optional K (1000) or
// M (1000000) suffix, as the disk sizes are counted. Fractions must come out as whole bytes.
std::optional<long long> ParseVolumeSize(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    long long multiplier = 1;
    auto endsWith = [&](const char* suffix) {
        const std::size_t n = std::strlen(suffix);
        if (text.size() <= n)
            return false;
        for (std::size_t i = 0; i < n; ++i)
            if (std::toupper(static_cast<unsigned char>(text[text.size() - n + i])) != suffix[i])
                return false;
        text.resize(text.size() - n);
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        return true;
    };
    if (endsWith("KB") || endsWith("K"))
        multiplier = 1000;
    else if (endsWith("MB") || endsWith("M"))
        multiplier = 1000000;

    long long whole = 0, fraction = 0, fractionScale = 1;
    bool digits = false, inFraction = false;
    for (char c : text) {
        if (c == '.' && !inFraction) {
            inFraction = true;
            continue;
        }
        if (c < '0' || c > '9' || whole > INT_MAX || fractionScale > 1000000)
            return std::nullopt;
        digits = true;
        if (inFraction) {
            fraction = fraction * 10 + (c - '0');
            fractionScale *= 10;
        } else {
            whole = whole * 10 + (c - '0');
        }
    }
    if (!digits || (fraction * multiplier) % fractionScale != 0)
        return std::nullopt;
    return whole * multiplier + fraction * multiplier / fractionScale;
}

int RunPack(const PackOptions& options)
{
    if (options.lang == "ja")
        SetLanguage(Language::Japanese);
    else if (options.lang == "en")
        SetLanguage(Language::English);
    else
        SetLanguage(LanguageFromEnvironment());

    const ConsoleHost::Answer answer = options.yes ? ConsoleHost::Answer::Yes
                                       : options.no ? ConsoleHost::Answer::No
                                                    : ConsoleHost::Answer::Ask;
    ConsoleHost host(answer);

    int volumeSize = kDefaultVolumeSize;
    if (!options.split.empty()) {
        const auto size = ParseVolumeSize(options.split);
        if (!size || *size < kSmallestVolumeSize || *size > INT_MAX) {
            host.PrintLine(FormatText(LoadString(IDS_CLI_BAD_VOLUME_SIZE).c_str(),
                                      options.split.c_str()));
            return EXIT_USAGE;
        }
        volumeSize = static_cast<int>(*size);
    }

    // As the Pack dialog does: a project file that cannot be opened is not packed.
    if (std::FILE* probe = std::fopen(options.file.c_str(), "rb")) {
        std::fclose(probe);
    } else {
        const int error = errno;
        host.PrintLine(FormatText(LoadString(IDS_CANNOT_OPEN_FILE).c_str(), options.file.c_str()) +
                       " (" + std::strerror(error) + ")");
        return EXIT_FAILED;
    }

    if (StartPackJob(options.file, options.split.empty() ? 0 : 1, volumeSize)) {
        host.RunUntilJobEnds();
        if (g_bPackSucceeded)
            return EXIT_OK;
    }
    host.PrintLine(LoadString(IDS_CLI_PACK_FAILED));
    return EXIT_FAILED;
}

void AddPackCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<PackOptions>();
    CLI::App* cmd = app.add_subcommand(
        "pack", "Pack a project file into a packed file of the same name with the extension "
                ".0KX beside it, whole or split into volumes.");
    auto* yes = cmd->add_flag("--yes", options->yes,
                              "Answer OK to every question (overwrite existing files)");
    cmd->add_flag("--no", options->no, "Answer Cancel to every question")->excludes(yes);
    cmd->add_option("--lang", options->lang, "Language of the messages (default: from the locale)")
        ->check(CLI::IsMember({"en", "ja"}));
    cmd->add_option("--split", options->split,
                    "Split into volumes of SIZE bytes: 1.44M, 1.2M, 720K, 360K, or a number of "
                    "bytes with an optional K or M (decimal), at least 1000")
        ->type_name("SIZE");
    cmd->add_option("FILE", options->file, "The project file (.kmx)")->required();
    cmd->callback([options, &exitStatus] { exitStatus = RunPack(*options); });
}

const CommandRegistration registration(10, AddPackCommand);

} // namespace
