// The session bus's library: the keyring and the desktop notice for a start
// without a window, loaded by the executable only when it needs them.

#include "AppStart.h"
#include "DesktopNotice.h"
#include "DesktopServices.h"
#include "SecretKeyring.h"
#include "SecretStore.h"

#include <QDBusConnection>

#include <optional>
#include <type_traits>

namespace {

class SessionDesktopServices final : public DesktopServices {
public:
    OptionStore::Keyring keyring(std::chrono::milliseconds writeLimit) override
    {
        if (!m_secrets)
            m_secrets.emplace("Quillmere", "password", QDBusConnection::sessionBus(), writeLimit);
        return SecretKeyring::of(*m_secrets, AppStart::kKeyringReadLimit);
    }

    bool finishKeyring(std::chrono::milliseconds limit) override { return !m_secrets || m_secrets->finish(limit); }

    bool showNotice(const QString& summary, const QString& body) override
    {
        return DesktopNotice::show(summary, body);
    }

private:
    std::optional<SecretStore> m_secrets;
};

} // namespace

extern "C" __attribute__((visibility("default"))) DesktopServices* quillmere_desktop_services()
{
    return new SessionDesktopServices;
}

// The entry's type is the loader's.
static_assert(std::is_same_v<decltype(&quillmere_desktop_services), DesktopServices::Entry>);
