#include "cli/options.h"

#include "platform/strings.h"

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

void AddVolumeDirOption(CLI::App& cmd, std::vector<std::string>& dirs)
{
    cmd.add_option("--volume-dir", dirs,
                   "A folder where a missing volume is looked for before anyone is asked "
                   "(repeatable)")
        ->type_name("DIR")
        ->check(CLI::ExistingDirectory);
}

void UseLanguage(const std::string& lang)
{
    SetLanguage(lang == "ja"   ? Language::Japanese
                : lang == "en" ? Language::English
                               : LanguageFromEnvironment());
}
