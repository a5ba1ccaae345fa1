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

void OptionStore::tellUnreadable() const
{
    if (!m_unreadable.empty())
        Log::line(LogPrefix::kReadOptions + m_unreadable);
}

SettingStatus OptionStore::load()
{
    if (!m_current)
        loadOnce();
    return *m_current;
}

void OptionStore::loadOnce()
{
    const SettingStatus file = Util::loadSettingStatusChecked(m_unreadable);
    m_fileHolds = file.password;
    if (!m_unreadableLeftToCaller)
        tellUnreadable();
    m_keyringStale = Util::settingsKeyringStale();
    makeFilePrivate();
    SecretReading secret;
    if (m_keyring.read && m_keyring.write)
        secret = m_keyring.read();
    m_useKeyring = secret.result != SecretReading::Result::Unreachable;
    // The window keeps no password in the file while a keyring takes it;
    // one the user cleared since is marked so.
    m_passwordOutOfReach = m_keyring.read && m_keyring.write && !m_useKeyring && file.password.empty()
        && !m_keyringStale;
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
    // saved, later than anything in the keyring: it wins. A stale keyring's
    // is one the user replaced or cleared: never used, and removed below.
    if (fromFile)
        options.password = *fromFile;
    else if (m_useKeyring && !m_keyringStale && keepable(secret.secret))
        options.password = secret.secret;
    else
        // One written by hand that cannot encrypt stays, so that the window
        // and a job say what is wrong with it rather than call it empty.
        options.password = file.password;
    m_current = options;
    m_keyringWanted = inKeyring;
    m_filePassword = fromFile.value_or("");
    // A file that cannot be relied on stays as it is until the user has
    // chosen again: a rewrite now would put "false" over an isEncrypt they
    // wrote, or replace a file this user cannot read.
    if (!m_unreadable.empty())
        return;

    // An empty entry (old versions wrote one) goes, and so does one the
    // keyring's password replaces.
    bool rewrite = !fromFile && Util::settingsHoldPassword()
        && (file.password.empty() || options.password != file.password);
    if (!m_useKeyring) {
        if (rewrite)
            writeFile();
        return;
    }
    const std::optional<std::string> wanted = keepable(options.password);
    if (rewrite)
        writeFile();
    if (wanted == inKeyring && !m_filePassword.empty())
        // An earlier move reached the keyring but not the file.
        dropFilePassword();
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
    const bool inFile = !m_useKeyring || (m_filePasswordStuck && options.password == m_filePassword);
    if (!inFile)
        return PasswordPlace::Keyring;
    // Without a keyring the file is the only place: a password it could not
    // take is lost at the end of the run, unless an earlier write kept it.
    if (!m_useKeyring && m_fileWriteFailed && options.password != m_fileHolds)
        return PasswordPlace::Unsaved;
    return m_filePrivate ? PasswordPlace::SettingsFile : PasswordPlace::OpenSettingsFile;
}

bool OptionStore::writeFile()
{
    SettingStatus onDisk = *m_current;
    onDisk.password = m_useKeyring ? m_filePassword : keepable(m_current->password).value_or("");
    const bool written = Util::saveSettingStatus(onDisk, m_keyringStale);
    m_fileWriteFailed = !written;
    if (!written)
        return false;
    m_fileHolds = onDisk.password;
    if (m_filePassword.empty())
        m_filePasswordStuck = false;
    if (!onDisk.password.empty())
        makeFilePrivate();
    return true;
}

void OptionStore::dropFilePassword()
{
    const std::string held = m_filePassword;
    m_filePassword.clear();
    const bool wasStuck = m_filePasswordStuck;
    if (writeFile()) {
        if (wasStuck && m_placeChanged)
            m_placeChanged();
        return;
    }
    // The keyring has it too, but the window must not say it is only there.
    m_filePassword = held;
    m_filePasswordStuck = true;
    Log::line(LogPrefix::kSaveOptions
              + std::string("the settings file could not be written: the password stays in it as well"));
    if (m_placeChanged)
        m_placeChanged();
}

void OptionStore::makeFilePrivate()
{
    if (!Util::settingsHoldPassword()) {
        m_filePrivate = true;
        return;
    }
    std::string why;
    const bool wasPrivate = m_filePrivate;
    m_filePrivate = Util::makeSettingsPrivate(why);
    if (!m_filePrivate && wasPrivate)
        Log::line(LogPrefix::kSaveOptions + std::string("the settings file holds the password and could not be made "
                                                        "readable by its owner alone: ") + why);
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
        // The keyring refused: the file keeps the password from now on, and
        // says that the keyring's, if any, is not the user's any more. A
        // removal that failed has nothing to keep; the keyring told why.
        m_useKeyring = false;
        m_keyringStale = true;
        m_filePassword.clear();
        m_filePasswordStuck = false;
        // Told as kept only once the file has it.
        if (!writeFile())
            Log::line(LogPrefix::kSaveOptions + std::string("the settings file could not be written"));
        else if (password)
            Log::line(LogPrefix::kPasswordInFile + std::string("the keyring did not store it"));
        if (m_placeChanged)
            m_placeChanged();
        return;
    }
    if (password != m_keyringWanted)
        return;
    const bool wasStale = m_keyringStale;
    m_keyringStale = false;
    if (!m_filePassword.empty())
        dropFilePassword();
    else if (wasStale)
        writeFile();
}
