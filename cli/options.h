// Options that several commands of packtool-cli share, described once: the answer to every
// question (--yes, --no), the language (--lang) and the folders searched for a missing volume
// (--volume-dir).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/consolehost.h"

struct AnswerOptions {
    bool yes = false;
    bool no = false;

    // The console's answer: Yes or No when a flag was given, else asked at the terminal.
    ConsoleHost::Answer Answer() const
    {
        return yes  ? ConsoleHost::Answer::Yes
               : no ? ConsoleHost::Answer::No
                    : ConsoleHost::Answer::Ask;
    }
};

// The options of every command that runs a job: the answer to its questions, --lang and
// --progress.
struct JobOptions {
    AnswerOptions answers;
    std::string lang;
    std::string progress;
};

// --yes (yesHelp says what OK answers) and --no, which exclude each other.
void AddAnswerOptions(CLI::App& cmd, AnswerOptions& answers, const std::string& yesHelp);
// --lang en|ja.
void AddLanguageOption(CLI::App& cmd, std::string& lang);
// --jobs N: how many files of a batch run at once (1 to 1024).
void AddJobsOption(CLI::App& cmd, unsigned& jobs);
// --volume-dir DIR, repeatable, existing folders only.
void AddVolumeDirOption(CLI::App& cmd, std::vector<std::string>& dirs);
// --progress plain; lines says what its lines on standard error are.
void AddProgressOption(CLI::App& cmd, std::string& progress, const std::string& lines);

// A volume size the user gave (pack --split, split's SIZE): the size in bytes, or nothing after
// saying why it is refused.
std::optional<int> VolumeSizeOption(ConsoleHost& host, const std::string& text);

// Whether path (shownName to the user) opens as a regular file to read; else says why not. A
// FIFO or a device is refused before it is opened: it might never end.
bool InputOpens(ConsoleHost& host, const std::string& path, const std::string& shownName);

// Waits for the end of a job when it started. Returns whether it succeeded, which the job's
// outcome says in `succeeded` once it has ended; when it did not start or did not succeed,
// says failureId first.
bool JobSucceeded(ConsoleHost& host, bool started, const bool& succeeded, unsigned failureId);

// After a split or a join of a set with a manifest of ours: the line that says where the
// rewritten manifest is, or that it could not be written (failedPath names it then). Returns
// false for the latter, which makes the command fail.
bool PrintManifestOutcome(ConsoleHost& host, bool failed, const std::string& failedPath,
                          const std::string& writtenPath);

// After a command printed its report on standard output: flushes it, and when it could not be
// written (standard output closed, a full disk, a closed pipe) says so on standard error.
// Returns whether the whole report was written.
bool ReportWritten(ConsoleHost& host, const char* command);

// Whether standard input (fd 0) or standard output (fd 1) can be used as a command's stream:
// one that was closed when the command started cannot, and that is said on standard error.
bool StandardStreamUsable(int fd, const char* command);

// Makes lang ("en", "ja", or empty: from the environment) the language of every text.
void UseLanguage(const std::string& lang);
