// A fresh temporary folder for one test, removed with everything in it afterwards, and small
// helpers for the files in it.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path of a file in the folder.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
// The names in a folder, sorted.
std::string ListFolder(const std::string& path);
// Pseudo-random bytes of a fixed seed: text-like when compressible, else uniform.
std::string MakeTestData(std::size_t size, bool compressible, unsigned seed = 1);
