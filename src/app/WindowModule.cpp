#include "WindowModule.h"

#include "DesktopNotice.h"
#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"

#include <QCoreApplication>

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
    if (library.empty())
        return fail(argv, std::string(kFileName) + " is neither in " + executableDir + " nor in " + executableDir + "/"
                              + QUILLMERE_WINDOW_RELATIVE_TO_BIN);
    // Never closed: the window's objects and Qt's plugins live until exit.
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_GLOBAL);
    const auto entry = handle ? reinterpret_cast<Entry>(::dlsym(handle, kEntryName)) : nullptr;
    if (!entry) {
        const char* reason = ::dlerror();
        return fail(argv, reason ? reason : library);
    }
    return entry(argv, items);
}

int WindowModule::fail(char* argv[], const std::string& reason)
{
    Log::line(std::string(LogPrefix::kWindowModule) + reason);
    // Started from a menu or a file manager, the user sees no output: the
    // desktop tells what went wrong instead.
    int qtArgc = 1;
    const QCoreApplication application(qtArgc, argv);
    DesktopNotice::show("Quillmere を開けません",
                        QString("ウィンドウの部品 (%1) が見つからないか、読み込めません。Quillmere を入れ直してください。")
                            .arg(kFileName));
    return 1;
}
