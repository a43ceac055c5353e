// Texts by numeric id, in English and Japanese (UTF-8).
#pragma once

#include <string>

enum class Language {
    English,
    Japanese
};

// The language chosen from the environment: PACKTOOL_LANG=en|ja when set, else the first set of
// LANGUAGE, LC_ALL, LC_MESSAGES, LANG; a value beginning with "ja" chooses Japanese.
Language LanguageFromEnvironment();

// The language that LoadString uses. Set once on the main thread at start-up.
void SetLanguage(Language language);
Language CurrentLanguage();

// The text with that id in the current language; empty when the catalogue has no such id.
// Texts keep their own "\r\n" line breaks.
std::string LoadString(unsigned id);
std::string LoadString(unsigned id, Language language);
