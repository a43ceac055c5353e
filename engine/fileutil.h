// File helpers that the jobs share: the names of files on their way to their final names,
// sizes and names of files on disk, and comparing names the way the sets' systems do.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Prefix of every file a job writes beside its final name before a rename gives it that name,
// and of the files a job keeps aside until a new set is complete.
constexpr const char* TEMP_FILE_PREFIX = "tmp_";

// The length in bytes of the file at path, -1 when it cannot be looked up.
std::int64_t FileLength(const std::string& path);
// Length of an open stream in bytes; the stream is left at its start. When it cannot be
// determined, a line says so on standard output and the length is 0.
std::int64_t GetFileLength(std::FILE* stream);

// The file's name with its extension, without its folder.
std::string FileNameOf(const std::string& path);

// True when a and b are the same name but for the letter case of ASCII letters.
bool EqualIgnoringCase(const std::string& a, const std::string& b);
// The other files in path's folder whose names differ from its name only in letter case
// (NAME.kmx beside NAME.KMX: two files here, one on the systems the sets come from), sorted.
std::vector<std::string> OtherCaseNamesOf(const std::string& path);

// Why an input cannot be read, for a message that names it: "it is a FIFO", "it is a device"
// or "it is a folder" for the errors OpenRegularInput gives those (ESPIPE, ENODEV, EISDIR),
// else the system's text for the error.
std::string InputErrorText(int error);
// The line that refuses path as an input when it is a folder, a device or a FIFO ("not a
// regular file (it is a FIFO)"): none of them has a size to read, opening a FIFO waits for a
// writer and reading /dev/zero never ends. Empty for anything else, whose open says what is
// wrong with it.
std::string NotRegularInputRefusal(const std::string& path);
// The line for an input that could not be opened: "not a regular file (it is a FIFO)" for the
// kinds above, else "Unable to open the file" with the system's reason.
std::string CannotOpenInputText(const std::string& path, int error);
