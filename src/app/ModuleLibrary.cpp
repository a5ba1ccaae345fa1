#include "ModuleLibrary.h"

#include "FileManager.h"

#include <dlfcn.h>

#ifndef QUILLMERE_WINDOW_RELATIVE_TO_BIN
#define QUILLMERE_WINDOW_RELATIVE_TO_BIN "../lib/quillmere/window"
#endif

namespace {

// Where path() looks, named when it finds nothing.
std::string places(const std::string& executableDir, const char* fileName)
{
    return std::string(fileName) + " is neither in " + executableDir + " nor in " + executableDir + "/"
        + QUILLMERE_WINDOW_RELATIVE_TO_BIN;
}

} // namespace

std::string ModuleLibrary::path(const std::string& executableDir, const char* fileName)
{
    for (const std::string& candidate : {executableDir + "/" + fileName,
                                         executableDir + "/" + QUILLMERE_WINDOW_RELATIVE_TO_BIN + "/" + fileName}) {
        if (FileManager::exists(candidate))
            return candidate;
    }
    return {};
}

void* ModuleLibrary::entry(const std::string& executableDir, const char* fileName, const char* entryName,
                           std::string& error)
{
    const std::string library = path(executableDir, fileName);
    if (library.empty()) {
        error = places(executableDir, fileName);
        return nullptr;
    }
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_GLOBAL);
    void* entry = handle ? ::dlsym(handle, entryName) : nullptr;
    if (!entry) {
        const char* reason = ::dlerror();
        error = reason ? reason : library;
    }
    return entry;
}
