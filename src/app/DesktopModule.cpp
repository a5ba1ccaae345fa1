#include "DesktopModule.h"

#include "Log.h"
#include "LogPrefix.h"
#include "ModuleLibrary.h"

#include <QTimer>

std::unique_ptr<DesktopServices> DesktopModule::load(const std::string& executableDir)
{
    std::string error;
    const auto entry = reinterpret_cast<DesktopServices::Entry>(
        ModuleLibrary::entry(executableDir, DesktopServices::kFileName, DesktopServices::kEntryName, error));
    if (!entry) {
        Log::line(std::string(LogPrefix::kDesktopModule) + error);
        return nullptr;
    }
    return std::unique_ptr<DesktopServices>(entry());
}

OptionStore::Keyring DesktopModule::unreachableKeyring()
{
    OptionStore::Keyring keyring;
    keyring.read = [] { return SecretReading{}; };
    // As a keyring's answer, later.
    keyring.write = [](const std::optional<std::string>&, std::function<void(bool)> done) {
        QTimer::singleShot(0, [done = std::move(done)] { done(false); });
    };
    return keyring;
}
