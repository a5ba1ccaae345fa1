// A keyring that takes a password write and never answers (one waiting on
// an unlock prompt) when the application quits: the password is kept in the
// settings file, as when the keyring refuses it. Its own process, since the
// keyring's library keeps the first session bus it meets.
#include "OptionStore.h"
#include "PrivateBus.h"
#include "SilentKeyring.h"
#include "SecretStore.h"
#include "StdoutCapture.h"

#include <QDBusConnection>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class TestKeyringQuit : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::optional<PrivateBus> m_bus;
    SilentKeyring m_keyring;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + "/config"));
        qunsetenv("XDG_CURRENT_DESKTOP");
        qunsetenv("DESKTOP_SESSION");
        const QString address = m_bus.emplace(m_dir.path() + "/bus").address();
        QVERIFY2(!address.isEmpty(), "dbus-daemon did not start (scripts/setup installs it)");
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        QDBusConnection silent = QDBusConnection::connectToBus(address, "silent");
        QVERIFY(silent.registerService("org.freedesktop.secrets"));
        QVERIFY(silent.registerVirtualObject("/", &m_keyring, QDBusConnection::SubPath));
    }

    void aWriteLeftUnfinishedKeepsThePasswordInTheFile()
    {
        SecretStore secrets("Quillmere", "password", QDBusConnection::sessionBus());
        QVERIFY(secrets.reachable());
        OptionStore::Keyring keyring;
        // Read when it still answered; the write is what hangs.
        keyring.read = [] { return SecretReading{SecretReading::Result::Absent, {}}; };
        keyring.write = [&secrets](const std::optional<std::string>& password, std::function<void(bool)> done) {
            secrets.write(password, std::move(done));
        };
        OptionStore store(keyring);
        store.load();
        QVERIFY(store.save({true, "first-pass", false, false}));
        QVERIFY(store.save({true, "quit-pass", false, false}));
        QCOMPARE(store.passwordPlace(store.load()), PasswordPlace::Keyring);
        StdoutCapture output;
        QVERIFY(!secrets.finish(300ms));
        QCOMPARE(output.lines(), (std::vector<std::string>{"keyring error:a password write was left unfinished at quit",
                                                           "password kept in the settings file: the keyring did not store it"}));
        const QString file = m_dir.path() + "/config/Quillmere/Quillmere.conf";
        QCOMPARE(QSettings(file, QSettings::IniFormat).value("settings/password").toString(), QString("quit-pass"));
        QCOMPARE(fs::status(QFile::encodeName(file).toStdString()).permissions(),
                 fs::perms::owner_read | fs::perms::owner_write);
        QCOMPARE(store.passwordPlace(store.load()), PasswordPlace::SettingsFile);
    }

    void cleanupTestCase() { m_bus.reset(); }
};

QTEST_GUILESS_MAIN(TestKeyringQuit)
#include "tst_KeyringQuit.moc"
