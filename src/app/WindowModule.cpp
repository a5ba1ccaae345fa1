#include "WindowModule.h"

#include "DesktopModule.h"
#include "Log.h"
#include "LogPrefix.h"
#include "ModuleLibrary.h"

#include <QCoreApplication>

int WindowModule::run(const std::string& executableDir, char* argv[], const std::vector<std::string>& items)
{
    std::string error;
    const auto entry = reinterpret_cast<Entry>(ModuleLibrary::entry(executableDir, kFileName, kEntryName, error));
    if (!entry)
        return fail(executableDir, argv, error);
    return entry(argv, items);
}

int WindowModule::fail(const std::string& executableDir, char* argv[], const std::string& reason)
{
    Log::line(std::string(LogPrefix::kWindowModule) + reason);
    // Started from a menu or a file manager, the user sees no output: the
    // desktop tells what went wrong instead.
    int qtArgc = 1;
    const QCoreApplication application(qtArgc, argv);
    if (const std::unique_ptr<DesktopServices> desktop = DesktopModule::load(executableDir))
        desktop->showNotice(
            "Quillmere を開けません",
            QString("ウィンドウの部品 (%1) が見つからないか、読み込めません。Quillmere を入れ直してください。")
                .arg(kFileName));
    return 1;
}
