#pragma once

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>
#include <iterator>
#include <string>

// Whole files as bytes, for tests that make files and spoil them.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// size bytes from the system's random source: data no compressor shrinks.
inline std::string randomBytes(size_t size)
{
    std::string data(size, '\0');
    std::ifstream("/dev/urandom", std::ios::binary).read(data.data(), static_cast<std::streamsize>(size));
    return data;
}

// Makes the file's folder first.
inline void writeFile(const std::string& path, const std::string& content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Folders named name, depth of them one inside the other below folder, with
// a file "deep.txt" at the bottom, made through descriptors: the whole path
// may be longer than any path the system takes. Returns false on failure.
inline bool makeDeepTree(const std::string& folder, const std::string& name, int depth)
{
    std::filesystem::create_directories(folder);
    int at = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; at >= 0 && level < depth; ++level) {
        const int below = ::mkdirat(at, name.c_str(), 0700) == 0
            ? ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        ::close(at);
        at = below;
    }
    if (at < 0)
        return false;
    const int file = ::openat(at, "deep.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ::close(at);
    ::close(file);
    return file >= 0;
}
