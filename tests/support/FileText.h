// FileText: reading, writing and listing small files in a test's scratch directory.
#ifndef TESTS_SUPPORT_FILETEXT_H
#define TESTS_SUPPORT_FILETEXT_H

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

// The whole file as bytes; empty when it cannot be read.
inline std::string contents(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write(const std::string& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary) << text;
}

// The names of a directory's entries.
inline std::set<std::string> names(const std::string& directory)
{
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        found.insert(entry.path().filename().string());
    }
    return found;
}

#endif
