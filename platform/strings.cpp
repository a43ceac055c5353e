// Texts by id: the catalogue of resources/ in the language chosen at start-up.
#include "platform/strings.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "resources/catalogue.h"

namespace {

bool BeginsWithJa(const char* value)
{
    return std::strncmp(value, "ja", 2) == 0;
}

std::atomic<int>& LanguageSlot()
{
    // Until start-up chooses, the environment decides.
    static std::atomic<int> slot{static_cast<int>(LanguageFromEnvironment())};
    return slot;
}

} // namespace

Language LanguageFromEnvironment()
{
    if (const char* forced = std::getenv("PACKTOOL_LANG"); forced && *forced)
        return BeginsWithJa(forced) ? Language::Japanese : Language::English;
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return BeginsWithJa(value) ? Language::Japanese : Language::English;
    }
    return Language::English;
}

void SetLanguage(Language language)
{
    LanguageSlot().store(static_cast<int>(language));
}

Language CurrentLanguage()
{
    return static_cast<Language>(LanguageSlot().load());
}

std::string LoadString(unsigned id)
{
    return LoadString(id, CurrentLanguage());
}

std::string LoadString(unsigned id, Language language)
{
    const CatalogueEntry* entry = FindCatalogueEntry(id);
    if (!entry)
        return {};
    return language == Language::Japanese ? entry->japanese : entry->english;
}
