#include "ConverterPath.h"

#include "FileManager.h"

#include <cstdlib>
#include <filesystem>

#ifndef QUILLMERE_GCONV_RELATIVE_TO_BIN
#define QUILLMERE_GCONV_RELATIVE_TO_BIN "../lib/quillmere/gconv"
#endif

std::string ConverterPath::moduleFolder(const std::string& executableDir)
{
    for (const std::string& candidate : {executableDir + "/gconv",
                                         executableDir + "/" + QUILLMERE_GCONV_RELATIVE_TO_BIN}) {
        if (FileManager::exists(candidate + "/gconv-modules"))
            return candidate;
    }
    return {};
}

void ConverterPath::install(const std::string& executableDir)
{
    const std::string folder = moduleFolder(executableDir);
    if (folder.empty())
        return;
    const char* existing = std::getenv("GCONV_PATH");
    const std::string value = existing && *existing ? folder + ":" + existing : folder;
    ::setenv("GCONV_PATH", value.c_str(), 1);
}

std::string ConverterPath::executableFolder()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : executable.parent_path().string();
}
