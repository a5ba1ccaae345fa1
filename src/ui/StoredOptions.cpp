#include "StoredOptions.h"

#include "Log.h"
#include "LogPrefix.h"
#include "PasswordRule.h"
#include "Util.h"

StoredOptions::StoredOptions(const ViewServices& services, std::function<SettingStatus()> current, QObject* parent)
    : QObject(parent)
    , m_load(services.loadOptions)
    , m_save(services.saveOptions)
    , m_place(services.passwordPlace)
    , m_current(std::move(current))
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(kTypingPauseMs);
    connect(&m_pause, &QTimer::timeout, this, &StoredOptions::saveNow);
}

SettingStatus StoredOptions::load() const
{
    if (m_load)
        return m_load();
    std::string unreadable;
    SettingStatus stored = Util::loadSettingStatusChecked(unreadable);
    stored.encryptUnknown = !unreadable.empty();
    return stored;
}

bool StoredOptions::save(const SettingStatus& options)
{
    bool written = false;
    if (m_save) {
        // The service says why itself.
        written = m_save(options);
    } else {
        written = Util::saveSettingStatus(options);
        m_fileWriteFailed = !written;
        if (!written)
            Log::line(LogPrefix::kSaveOptions + std::string("the options could not be written"));
    }
    emit saved(written);
    return written;
}

PasswordPlace StoredOptions::passwordPlace(const SettingStatus& options) const
{
    if (m_place)
        return m_place(options);
    // The settings file alone: it keeps any password that can be used.
    if (options.password.empty() || PasswordRule::check(options.password) != PasswordRule::Problem::None)
        return PasswordPlace::NotStored;
    return m_fileWriteFailed ? PasswordPlace::Unsaved : PasswordPlace::SettingsFile;
}

void StoredOptions::saveNow()
{
    m_pause.stop();
    // Until the user has chosen whether to encrypt, the settings file keeps
    // what they stored, unreadable as it is here.
    const SettingStatus shown = m_current();
    if (!shown.encryptUnknown)
        save(shown);
}

void StoredOptions::saveSoon()
{
    m_pause.start();
}
