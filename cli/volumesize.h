// The volume size as packtool-cli takes it (pack --split SIZE, split SIZE).
#pragma once

#include <optional>
#include <string>

// "1.44M", "720K", "250000", "100KB": a decimal number of bytes with an optional K (1000) or
// M (1000000) suffix, as the disk sizes are counted. Fractions must come out as whole bytes.
// A blank before or after the size is refused, as every other character that is no part of
// it is: "1000 " and " 1000" alike.
std::optional<long long> ParseVolumeSize(std::string text);

// Whether the size as given begins or ends with a blank (the reason it is refused).
bool HasOuterBlank(const std::string& text);

// Smaller volumes are of no use on any disk and only multiply the files.
constexpr long long kSmallestVolumeSize = 1000;
