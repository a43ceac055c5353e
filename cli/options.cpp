#include "cli/options.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <unistd.h>

#include "cli/volumesize.h"
#include "engine/fileutil.h"
#include "engine/format.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "resources/textids.h"

void AddAnswerOptions(CLI::App& cmd, AnswerOptions& answers, const std::string& yesHelp)
{
    CLI::Option* yes = cmd.add_flag("--yes", answers.yes, yesHelp);
    cmd.add_flag("--no", answers.no, "Answer Cancel to every question")->excludes(yes);
}

void AddLanguageOption(CLI::App& cmd, std::string& lang)
{
    cmd.add_option("--lang", lang, "Language of the messages (default: from the locale)")
        ->check(CLI::IsMember({"en", "ja"}));
}

void AddJobsOption(CLI::App& cmd, unsigned& jobs)
{
    cmd.add_option("--jobs", jobs,
                   "With several files: how many run at once (default: the machine's cores)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
}

void AddVolumeDirOption(CLI::App& cmd, std::vector<std::string>& dirs)
{
    cmd.add_option("--volume-dir", dirs,
                   "A folder where a missing volume is looked for before anyone is asked "
                   "(repeatable)")
        ->type_name("DIR")
        ->check(CLI::ExistingDirectory);
}

void AddProgressOption(CLI::App& cmd, std::string& progress, const std::string& lines)
{
    cmd.add_option("--progress", progress, "plain: " + lines)->check(CLI::IsMember({"plain"}));
}

std::optional<int> VolumeSizeOption(ConsoleHost& host, const std::string& text)
{
    if (HasOuterBlank(text)) {
        host.PrintLine(FormatText(LoadString(IDS_CLI_VOLUME_SIZE_BLANK).c_str(), text.c_str()));
        return std::nullopt;
    }
    const auto size = ParseVolumeSize(text);
    if (!size || *size < kSmallestVolumeSize || *size > INT_MAX) {
        host.PrintLine(FormatText(LoadString(IDS_CLI_BAD_VOLUME_SIZE).c_str(), text.c_str()));
        return std::nullopt;
    }
    return static_cast<int>(*size);
}

bool InputOpens(ConsoleHost& host, const std::string& path, const std::string& shownName)
{
    std::FILE* probe = OpenRegularInputStream(path);
    if (!probe) {
        const int error = errno;
        host.PrintLine(CannotOpenInputText(shownName, error));
        return false;
    }
    CloseStream(probe);
    return true;
}

bool JobSucceeded(ConsoleHost& host, bool started, const bool& succeeded, unsigned failureId)
{
    if (started)
        host.RunUntilJobEnds();
    if (!started || !succeeded) {
        host.PrintLine(LoadString(failureId));
        return false;
    }
    host.FinishPlainProgress();
    return true;
}

bool PrintManifestOutcome(ConsoleHost& host, bool failed, const std::string& failedPath,
                          const std::string& writtenPath)
{
    if (failed) {
        host.PrintLine(FormatText(LoadString(IDS_CLI_MANIFEST_FAILED).c_str(), failedPath.c_str()));
        return false;
    }
    if (!writtenPath.empty())
        host.PrintLine(
            FormatText(LoadString(IDS_CLI_MANIFEST_WRITTEN).c_str(), writtenPath.c_str()));
    return true;
}

void UseLanguage(const std::string& lang)
{
    SetLanguage(lang == "ja"   ? Language::Japanese
                : lang == "en" ? Language::English
                               : LanguageFromEnvironment());
}

bool ReportWritten(ConsoleHost& host, const char* command)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && !std::ferror(stdout))
        return true;
    const int error = errno != 0 ? errno : EIO;
    host.PrintLine(FormatText(LoadString(IDS_CLI_REPORT_NOT_WRITTEN).c_str(), command,
                              SystemErrorText(error).c_str()));
    return false;
}

bool StandardStreamUsable(int fd, const char* command)
{
    if (!StandardStreamWasClosed(fd))
        return true;
    std::fprintf(stderr, "%s\n",
                 FormatText(LoadString(IDS_CLI_STREAM_CLOSED).c_str(), command,
                            fd == STDIN_FILENO ? "standard input" : "standard output",
                            SystemErrorText(EBADF).c_str())
                     .c_str());
    return false;
}
