// Options that several commands of packtool-cli share, described once: the answer to every
// question (--yes, --no), the language (--lang) and the folders searched for a missing volume
// (--volume-dir).
#pragma once

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
        return yes ? ConsoleHost::Answer::Yes : no ? ConsoleHost::Answer::No : ConsoleHost::Answer::Ask;
    }
};

// --yes (yesHelp says what OK answers) and --no, which exclude each other.
void AddAnswerOptions(CLI::App& cmd, AnswerOptions& answers, const std::string& yesHelp);
// --lang en|ja.
void AddLanguageOption(CLI::App& cmd, std::string& lang);
// --volume-dir DIR, repeatable, existing folders only.
void AddVolumeDirOption(CLI::App& cmd, std::vector<std::string>& dirs);

// Makes lang ("en", "ja", or empty: from the environment) the language of every text.
void UseLanguage(const std::string& lang);
