#include "cli/volumesize.h"

#include <cctype>
#include <climits>
#include <cstring>

bool HasOuterBlank(const std::string& text)
{
    return !text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) ||
                             std::isspace(static_cast<unsigned char>(text.back())));
}

std::optional<long long> ParseVolumeSize(std::string text)
{
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
