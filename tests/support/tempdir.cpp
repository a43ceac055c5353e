#include "tests/support/tempdir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/packtool-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored).type() !=
           std::filesystem::file_type::not_found;
}

std::string ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::ostringstream out;
    for (std::size_t i = 0; i < names.size(); ++i)
        out << (i ? " " : "") << names[i];
    return out.str();
}

std::string MakeTestData(std::size_t size, bool compressible, unsigned seed)
{
    std::mt19937 engine(seed);
    std::string data(size, '\0');
    if (!compressible) {
        for (char& c : data)
            c = static_cast<char>(engine() & 0xFF);
        return data;
    }
    static const char* const kWords[] = {"pack ", "tool ",   "volume ",    "project ", "file ",
                                         "disk ", "stream ", "header\r\n", "0KX ",     "kmx "};
    std::size_t pos = 0;
    while (pos < size) {
        const std::string word = kWords[engine() % 10];
        for (char c : word) {
            if (pos == size)
                break;
            data[pos++] = c;
        }
    }
    return data;
}
