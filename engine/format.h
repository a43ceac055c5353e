// Filling the placeholders of catalogue texts ("%s", "%ld", "%0.2f").
#pragma once

#include <string>

// The text with its placeholders filled by the arguments, as printf fills them. The format
// comes from our own catalogue; the arguments, such as paths, are never read as formats.
std::string FormatText(const char* format, ...);
