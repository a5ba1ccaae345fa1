#include "WindowModule.h"

#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"

#include <dlfcn.h>

#ifndef QUILLMERE_WINDOW_RELATIVE_TO_BIN
#define QUILLMERE_WINDOW_RELATIVE_TO_BIN "../lib/quillmere/window"
#endif

std::string WindowModule::path(const std::string& executableDir)
{
    for (const std::string& candidate : {executableDir + "/" + kFileName,
                                         executableDir + "/" + QUILLMERE_WINDOW_RELATIVE_TO_BIN + "/" + kFileName}) {
        if (FileManager::exists(candidate))
            return candidate;
    }
    return {};
}

int WindowModule::run(const std::string& executableDir, char* argv[], const std::vector<std::string>& items)
{
    const std::string library = path(executableDir);
    if (library.empty()) {
        Log::line(std::string(LogPrefix::kWindowModule) + kFileName + " is neither in " + executableDir + " nor in "
                  + executableDir + "/" + QUILLMERE_WINDOW_RELATIVE_TO_BIN);
        return 1;
    }
    // Never closed: the window's objects and Qt's plugins live until exit.
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_GLOBAL);
    const auto entry = handle ? reinterpret_cast<Entry>(::dlsym(handle, kEntryName)) : nullptr;
    if (!entry) {
        const char* reason = ::dlerror();
        Log::line(std::string(LogPrefix::kWindowModule) + (reason ? reason : library));
        return 1;
    }
    return entry(argv, items);
}
