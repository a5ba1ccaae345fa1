#include "OptionStore.h"

#include "Log.h"
#include "LogPrefix.h"
#include "PasswordRule.h"
#include "Util.h"

OptionStore::OptionStore(Keyring keyring)
    : m_keyring(std::move(keyring))
{
}

std::optional<std::string> OptionStore::keepable(const std::string& password)
{
    if (PasswordRule::check(password) != PasswordRule::Problem::None)
        return std::nullopt;
    return password;
}

SettingStatus OptionStore::load()
{
    if (!m_current)
        loadOnce();
    return *m_current;
}

void OptionStore::loadOnce()
{
    const SettingStatus file = Util::loadSettingStatus();
    SecretReading secret;
    if (m_keyring.read && m_keyring.write)
        secret = m_keyring.read();
    m_useKeyring = secret.result != SecretReading::Result::Unreachable;
    SettingStatus options = file;
    const std::optional<std::string> fromFile = keepable(file.password);
    // Said only where there is a password to keep: a machine without a
    // keyring and without a stored password has nothing to be told.
    if (!m_useKeyring && m_keyring.read && fromFile)
        Log::line(LogPrefix::kPasswordInFile + std::string("no keyring answered"));
    std::optional<std::string> inKeyring;
    if (secret.result == SecretReading::Result::Found)
        inKeyring = secret.secret;
    // The file holds a password only where no keyring answered when it was
    // saved, later than anything in the keyring: it wins.
    if (fromFile)
        options.password = *fromFile;
    else if (m_useKeyring && keepable(secret.secret))
        options.password = secret.secret;
    else
        // One written by hand that cannot encrypt stays, so that the window
        // and a job say what is wrong with it rather than call it empty.
        options.password = file.password;
    m_current = options;

    // An empty entry (old versions wrote one) goes, and so does one the
    // keyring's password replaces.
    bool rewrite = !fromFile && Util::settingsHoldPassword()
        && (file.password.empty() || options.password != file.password);
    if (!m_useKeyring) {
        if (rewrite)
            writeFile();
        return;
    }
    m_keyringWanted = inKeyring;
    m_filePassword = fromFile.value_or("");
    const std::optional<std::string> wanted = keepable(options.password);
    if (wanted == inKeyring && !m_filePassword.empty()) {
        // An earlier move reached the keyring but not the file.
        m_filePassword.clear();
        rewrite = true;
    }
    if (rewrite)
        writeFile();
    if (wanted != inKeyring)
        askKeyring(wanted);
}

bool OptionStore::save(const SettingStatus& options)
{
    if (!m_current)
        loadOnce();
    m_current = options;
    const std::optional<std::string> wanted = keepable(options.password);
    if (!wanted)
        m_filePassword.clear();
    const bool written = writeFile();
    if (m_useKeyring && wanted != m_keyringWanted)
        askKeyring(wanted);
    if (!written)
        Log::line(LogPrefix::kSaveOptions + std::string("the settings file could not be written"));
    return written;
}

PasswordPlace OptionStore::passwordPlace(const SettingStatus& options) const
{
    if (!keepable(options.password))
        return PasswordPlace::NotStored;
    return m_useKeyring ? PasswordPlace::Keyring : PasswordPlace::SettingsFile;
}

bool OptionStore::writeFile() const
{
    SettingStatus onDisk = *m_current;
    onDisk.password = m_useKeyring ? m_filePassword : keepable(m_current->password).value_or("");
    return Util::saveSettingStatus(onDisk);
}

void OptionStore::askKeyring(const std::optional<std::string>& password)
{
    m_keyringWanted = password;
    const std::weak_ptr<char> alive = m_alive;
    m_keyring.write(password, [this, alive, password](bool stored) {
        if (!alive.expired())
            onKeyringWritten(password, stored);
    });
}

void OptionStore::onKeyringWritten(const std::optional<std::string>& password, bool stored)
{
    if (!m_useKeyring)
        return;
    if (!stored) {
        // The keyring refused: the file keeps the password from now on.
        Log::line(LogPrefix::kPasswordInFile + std::string("the keyring did not store it"));
        m_useKeyring = false;
        m_filePassword.clear();
        writeFile();
        if (m_placeChanged)
            m_placeChanged();
        return;
    }
    if (password == m_keyringWanted && !m_filePassword.empty()) {
        m_filePassword.clear();
        writeFile();
    }
}
