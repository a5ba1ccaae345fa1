#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// Whole files as bytes, for tests that make files and spoil them.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Makes the file's folder first.
inline void writeFile(const std::string& path, const std::string& content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}
