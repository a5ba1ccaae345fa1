#include "Util.h"

#include "ContentBuilder.h"
#include "FileManager.h"
#include "PasswordRule.h"
#include "PathText.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kReplacement = "_";

uint64_t secureRandom64()
{
    uint64_t value = 0;
    auto* bytes = reinterpret_cast<char*>(&value);
    size_t filled = 0;
    while (filled < sizeof value) {
        const ssize_t n = ::getrandom(bytes + filled, sizeof value - filled, 0);
        if (n > 0)
            filled += static_cast<size_t>(n);
        // EINTR: try again. getrandom blocks only until the pool is ready.
    }
    return value;
}

// Draws an index below n with every value equally likely: the few values at
// the bottom of the 64-bit range that would favour small indexes are redrawn.
uint64_t uniformBelow(uint64_t n)
{
    uint64_t threshold = std::numeric_limits<uint64_t>::max() % n + 1;
    if (threshold == n)
        threshold = 0;
    uint64_t r = secureRandom64();
    while (r < threshold)
        r = secureRandom64();
    return r % n;
}

// ~/.config/Quillmere/Quillmere.conf, or below $XDG_CONFIG_HOME.
const char* const kOrganization = "Quillmere";
const char* const kApplication = "Quillmere";

std::optional<bool> storedBool(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed().toLower();
        if (text == "true")
            return true;
        if (text == "false")
            return false;
    }
    return std::nullopt;
}

// The options file holds the password: it is created for its owner alone
// before anything is written into it.
void makeStorePrivate(const std::string& file)
{
    const std::string folder = PathText::parentFolder(file);
    if (!FileManager::exists(folder))
        FileManager::createDirectory(folder, 0700);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
}

} // namespace

std::vector<std::string> Util::prohibitedCharacters()
{
    return {"\\", "<", ">", ":", "*", "?", "\"", "\xC2\xA5", "|"};
}

std::string Util::replaceProhibitedCharacters(const std::string& name)
{
    // The nine characters are ASCII or the two-byte sequence of "¥"; none of
    // these bytes can stand inside another UTF-8 sequence, so a byte search
    // replaces whole characters and leaves invalid UTF-8 untouched.
    const std::vector<std::string> prohibited = prohibitedCharacters();
    std::string result;
    for (size_t at = 0; at < name.size();) {
        const auto match = std::find_if(prohibited.begin(), prohibited.end(), [&](const std::string& character) {
            return name.compare(at, character.size(), character) == 0;
        });
        if (match == prohibited.end()) {
            result += name[at++];
        } else {
            result += kReplacement;
            at += match->size();
        }
    }
    return result;
}

StagedContent Util::fixProhibitedCharacters(const WorkFolders& folders, const std::vector<std::string>& items,
                                           const std::function<bool()>& abandoned, bool inMemory)
{
    return ContentBuilder(folders, abandoned).build(items, inMemory);
}

std::string Util::randomPassword(int length)
{
    static const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string password;
    for (int position = 0; position < length; ++position)
        password += alphabet[uniformBelow(alphabet.size())];
    return password;
}

SettingStatus Util::loadSettingStatus()
{
    std::string unreadable;
    return loadSettingStatusChecked(unreadable);
}

SettingStatus Util::loadSettingStatusChecked(std::string& unreadable)
{
    const QSettings settings(kOrganization, kApplication);
    SettingStatus status;
    unreadable.clear();
    if (settings.status() == QSettings::AccessError) {
        // Qt says only that it failed: the system's reason comes from
        // opening the file the same way.
        const std::string file = QFile::encodeName(settings.fileName()).toStdString();
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        const std::string reason = fd < 0 ? std::strerror(errno) : "the file could not be read";
        if (fd >= 0)
            ::close(fd);
        unreadable = file + ": " + reason;
        return status;
    }
    // Whether to encrypt is never guessed: a value written by hand that is
    // neither true nor false is told, and a job that would go by it without
    // being told on its command line refuses.
    const QVariant encrypt = settings.value("settings/isEncrypt");
    const std::optional<bool> storedEncrypt = storedBool(encrypt);
    if (encrypt.isValid() && !storedEncrypt)
        unreadable = QFile::encodeName(settings.fileName()).toStdString()
            + ": isEncrypt is neither true nor false: " + encrypt.toStringList().join(", ").toStdString();
    status.isEncrypt = storedEncrypt.value_or(false);
    const QVariant password = settings.value("settings/password");
    if (password.typeId() == QMetaType::QString)
        status.password = password.toString().toStdString();
    status.isSelectDir = storedBool(settings.value("settings/isSelectDir")).value_or(false);
    status.nameAfterItems = storedBool(settings.value("settings/nameAfterItems")).value_or(false);
    return status;
}

bool Util::saveSettingStatus(const SettingStatus& status, bool keyringStale)
{
    QSettings settings(kOrganization, kApplication);
    makeStorePrivate(QFile::encodeName(settings.fileName()).toStdString());
    settings.remove("settings");
    settings.beginGroup("settings");
    settings.setValue("isEncrypt", status.isEncrypt);
    // Only a password that can encrypt an archive is worth keeping.
    if (PasswordRule::check(status.password) == PasswordRule::Problem::None)
        settings.setValue("password", QString::fromStdString(status.password));
    settings.setValue("isSelectDir", status.isSelectDir);
    settings.setValue("nameAfterItems", status.nameAfterItems);
    if (keyringStale)
        settings.setValue("keyringPasswordStale", true);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool Util::settingsHoldPassword()
{
    return QSettings(kOrganization, kApplication).contains("settings/password");
}

bool Util::settingsKeyringStale()
{
    const QSettings settings(kOrganization, kApplication);
    return storedBool(settings.value("settings/keyringPasswordStale")).value_or(false);
}

bool Util::makeSettingsPrivate(std::string& why)
{
    const std::string file = QFile::encodeName(QSettings(kOrganization, kApplication).fileName()).toStdString();
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        if (errno == ENOENT)
            return true;
        why = std::strerror(errno);
        return false;
    }
    if ((status.st_mode & 0077) == 0)
        return true;
    if (::chmod(file.c_str(), 0600) == 0)
        return true;
    why = std::strerror(errno);
    return false;
}
