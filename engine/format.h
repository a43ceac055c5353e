// Filling the placeholders of catalogue texts ("%s", "%ld", "%0.2f").
#pragma once

#include <string>
#include <vector>

// The text with its placeholders filled by the arguments, as printf fills them. The format
// comes from our own catalogue; the arguments, such as paths, are never read as formats.
std::string FormatText(const char* format, ...);

// The lines of a text, split at each of the characters in `breaks`, each without its break;
// a last line without a break counts, an empty text has none.
std::vector<std::string> SplitLines(const std::string& text, const char* breaks = "\n");
