// The password in a real keyring: gnome-keyring on a private session bus,
// the real program run with --batch, and the option store through the real
// SecretStore. Everything lives below a temporary folder set as HOME and as
// the XDG folders; a second private bus has no keyring on it, and a bus
// address that leads nowhere stands for a desktop without a session bus.
#include "OptionStore.h"
#include "PrivateBus.h"
#include "SecretKeyring.h"
#include "SecretStore.h"
#include "SilentKeyring.h"
#include "TestFiles.h"
#include "Util.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <optional>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const int kStartMilliseconds = 20000;
const int kJobMilliseconds = 60000;
// Reads get longer than the program's own limit: the keyring here runs
// beside the tests.
OptionStore::Keyring keyringOf(SecretStore& secrets)
{
    return SecretKeyring::of(secrets, 2000ms);
}

} // namespace

class TestKeyring : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::optional<PrivateBus> m_keyringBus;
    std::optional<PrivateBus> m_bareBus;
    std::optional<PrivateBus> m_silentBus;
    SilentKeyring m_silentKeyring;
    QProcess m_keyring;
    QString m_keyringAddress;
    QString m_bareAddress;
    QString m_silentAddress;
    QByteArray m_output; // of the program's last run
    int m_writes = 0;

    QString path(const QString& relative) const { return m_dir.path() + "/" + relative; }
    std::string settingsFile() const { return QFile::encodeName(path("config/Quillmere/Quillmere.conf")).toStdString(); }

    QProcessEnvironment environment(const QString& busAddress) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
        return environment;
    }

    // The keyring's entry as libsecret's own tool finds it.
    std::optional<QString> lookup() const
    {
        QProcess tool;
        tool.setProcessEnvironment(environment(m_keyringAddress));
        tool.start("secret-tool", {"lookup", "server", "Quillmere", "user", "password"});
        if (!tool.waitForFinished(kStartMilliseconds) || tool.exitStatus() != QProcess::NormalExit
            || tool.exitCode() != 0)
            return std::nullopt;
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

    void writeSettings(const QByteArray& text)
    {
        writeFile(settingsFile(), text.toStdString());
        fs::permissions(settingsFile(), fs::perms::owner_read | fs::perms::owner_write);
        // A time of its own, so that Qt's cache never takes it for the one before.
        fs::last_write_time(settingsFile(), fs::file_time_type::clock::now() + std::chrono::seconds(++m_writes));
    }

    QSettings settings() const { return QSettings(QString::fromStdString(settingsFile()), QSettings::IniFormat); }

    // The real program, with the stored options and those given, on a
    // fresh folder with one file (archived beside it, in archive.zip), as an
    // ordinary user: root, who reads any file, runs it without that
    // capability. Its exit status, or -1 when it did not end by itself.
    int archive(const QString& busAddress, const QString& name, const QStringList& options = {},
                const QString& password = {}, const QString& binary = QUILLMERE_BINARY)
    {
        const QString item = path("items/" + name + "/見積書.txt");
        writeFile(QFile::encodeName(item).toStdString(), "quote\n");
        QProcessEnvironment env = environment(busAddress);
        if (!password.isEmpty())
            env.insert("QUILLMERE_PASSWORD", password);
        QStringList arguments = QStringList{"--batch"} + options + QStringList{item};
        QString program = binary;
        if (::geteuid() == 0) {
            arguments = QStringList{"--inh-caps=-dac_override,-dac_read_search",
                                    "--bounding-set=-dac_override,-dac_read_search", program}
                + arguments;
            program = "setpriv";
        }
        QProcess run;
        run.setProcessEnvironment(env);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(program, arguments);
        const bool ended = run.waitForFinished(kJobMilliseconds);
        m_output = run.readAll();
        return ended && run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
    }
    QString archiveOf(const QString& name) const { return path("items/" + name + "/archive.zip"); }

    static bool opens(const QString& archive, const QString& password)
    {
        return QProcess::execute("unzip", {"-qq", "-t", "-P" + password, archive}) == 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (const char* folder : {"home", "config", "data", "runtime"})
            QVERIFY(QDir().mkpath(path(folder)));
        QVERIFY(QFile::setPermissions(path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        // Set before anything reaches a bus or a keyring, and inherited by
        // every program the test starts.
        qputenv("HOME", QFile::encodeName(path("home")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path("config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("data")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path("runtime")));
        qunsetenv("XDG_CURRENT_DESKTOP");
        qunsetenv("DESKTOP_SESSION");

        m_keyringAddress = m_keyringBus.emplace(path("keyring-bus")).address();
        QVERIFY2(!m_keyringAddress.isEmpty(), "dbus-daemon did not start (scripts/setup installs it)");
        m_bareAddress = m_bareBus.emplace(path("bare-bus")).address();
        QVERIFY(!m_bareAddress.isEmpty());
        m_silentAddress = m_silentBus.emplace(path("silent-bus")).address();
        QVERIFY(!m_silentAddress.isEmpty());
        QDBusConnection silent = QDBusConnection::connectToBus(m_silentAddress, "silent");
        QVERIFY(silent.registerService("org.freedesktop.secrets"));
        QVERIFY(silent.registerVirtualObject("/", &m_silentKeyring, QDBusConnection::SubPath));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_keyringAddress.toUtf8());

        m_keyring.setProcessEnvironment(environment(m_keyringAddress));
        m_keyring.start("gnome-keyring-daemon", {"--foreground", "--unlock", "--components=secrets"});
        QVERIFY2(m_keyring.waitForStarted(kStartMilliseconds), "gnome-keyring-daemon did not start");
        // --unlock reads the login keyring's password up to the end of input.
        m_keyring.write("keyring-test");
        m_keyring.closeWriteChannel();
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.isConnected());
        QTRY_VERIFY_WITH_TIMEOUT(bus.interface()->isServiceRegistered("org.freedesktop.secrets"), kStartMilliseconds);
    }

    void cleanupTestCase()
    {
        PrivateBus::stop(m_keyring);
        m_keyringBus.reset();
        m_bareBus.reset();
        m_silentBus.reset();
    }

    // The password an earlier version left in the settings file moves into
    // the keyring at the first start and is gone from the file; the next
    // start encrypts with the keyring's password.
    void realProgramMovesThePasswordAndReadsItBack()
    {
        writeSettings("[settings]\nisEncrypt=true\npassword=old-pass-123\nisSelectDir=false\n");
        QVERIFY2(archive(m_keyringAddress, "first") == 0, m_output.constData());
        QVERIFY(opens(archiveOf("first"), "old-pass-123"));
        QVERIFY(!opens(archiveOf("first"), "wrong"));
        QCOMPARE(lookup(), std::optional<QString>("old-pass-123"));
        QVERIFY(!settings().contains("settings/password"));
        QCOMPARE(settings().value("settings/isEncrypt").toBool(), true);
        QCOMPARE(fs::status(settingsFile()).permissions(), fs::perms::owner_read | fs::perms::owner_write);

        QVERIFY2(archive(m_keyringAddress, "next") == 0, m_output.constData());
        QVERIFY(opens(archiveOf("next"), "old-pass-123"));
        QVERIFY(!settings().contains("settings/password"));
    }

    // A job refused at once (its destination is missing) still gives the
    // move into the keyring its time: the password is not lost on the way.
    void aRefusedJobStillMovesThePassword()
    {
        writeSettings("[settings]\nisEncrypt=true\npassword=moved-pass-456\n");
        QVERIFY2(archive(m_keyringAddress, "refused", {"--output", path("missing")}) == 1, m_output.constData());
        QVERIFY2(!m_output.contains("keyring error:"), m_output.constData());
        QCOMPARE(lookup(), std::optional<QString>("moved-pass-456"));
        QVERIFY(!settings().contains("settings/password"));
    }

    // The store through the real SecretStore: a password typed on reaches
    // the keyring last one last, never the file, and is read at the next
    // start; an unusable one removes it.
    void storeKeepsThePasswordInTheKeyring()
    {
        writeSettings("[settings]\nisEncrypt=false\n");
        {
            SecretStore secrets("Quillmere", "password", QDBusConnection::sessionBus());
            QVERIFY(secrets.reachable());
            OptionStore store(keyringOf(secrets));
            SettingStatus options = store.load();
            options.isEncrypt = true;
            for (const char* typed : {"n", "ne", "neu", "neu-パス-789"}) {
                options.password = typed;
                QVERIFY(store.save(options));
            }
            QCOMPARE(store.passwordPlace(options), PasswordPlace::Keyring);
            QVERIFY(secrets.finish(10000ms));
            QCOMPARE(lookup(), std::optional<QString>("neu-パス-789"));
            QVERIFY(!settings().contains("settings/password"));
        }
        {
            SecretStore secrets("Quillmere", "password", QDBusConnection::sessionBus());
            OptionStore store(keyringOf(secrets));
            SettingStatus options = store.load();
            QCOMPARE(options, (SettingStatus{true, "neu-パス-789", false, false}));
            options.password = std::string(85, 'x');
            QVERIFY(store.save(options));
            QCOMPARE(store.passwordPlace(options), PasswordPlace::NotStored);
            QVERIFY(secrets.finish(10000ms));
            QCOMPARE(lookup(), std::nullopt);
            QVERIFY(!settings().contains("settings/password"));
        }
    }

    // Without a keyring, or without any session bus, the settings file keeps
    // the password and the program encrypts with it.
    void withoutAKeyringTheFileKeepsIt_data()
    {
        QTest::addColumn<bool>("bare");
        QTest::newRow("bus without a keyring") << true;
        QTest::newRow("no session bus") << false;
    }
    void withoutAKeyringTheFileKeepsIt()
    {
        QFETCH(bool, bare);
        const QString address = bare ? m_bareAddress : "unix:path=" + path("no-bus-here");
        writeSettings("[settings]\nisEncrypt=true\npassword=file-pass-1\n");
        QVERIFY2(archive(address, bare ? "bare" : "no-bus") == 0, m_output.constData());
        QVERIFY(opens(archiveOf(bare ? "bare" : "no-bus"), "file-pass-1"));
        QCOMPARE(settings().value("settings/password").toString(), QString("file-pass-1"));

        const QDBusConnection bus = QDBusConnection::connectToBus(address, bare ? "bare" : "no-bus");
        SecretStore secrets("Quillmere", "password", bus);
        QVERIFY(!secrets.reachable());
        OptionStore store(keyringOf(secrets));
        SettingStatus options = store.load();
        QCOMPARE(options.password, std::string("file-pass-1"));
        QCOMPARE(store.passwordPlace(options), PasswordPlace::SettingsFile);
        options.password = "file-pass-2";
        QVERIFY(store.save(options));
        QCOMPARE(Util::loadSettingStatus().password, std::string("file-pass-2"));
        QCOMPARE(fs::status(settingsFile()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        QVERIFY(!secrets.busy());
    }

    // A settings file that cannot be read does not make a job unencrypted
    // that the file asks to encrypt: a command line that does not say is
    // refused, one that does is done as it says.
    void anUnreadableSettingsFileRefusesAJobThatDoesNotSay_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("name");
        QTest::newRow("nothing said") << QStringList() << QString() << 1 << "unsaid";
        QTest::newRow("--no-encrypt") << QStringList{"--no-encrypt"} << QString() << 0 << "unencrypted";
        QTest::newRow("--encrypt") << QStringList{"--encrypt"} << QString("line-pass-7") << 0 << "encrypted";
    }
    void anUnreadableSettingsFileRefusesAJobThatDoesNotSay()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, password);
        QFETCH(int, status);
        QFETCH(QString, name);
        writeSettings("[settings]\nisEncrypt=true\npassword=file-pass-9\n");
        fs::permissions(settingsFile(), fs::perms::none);
        const int ended = archive(m_bareAddress, name, options, password);
        fs::permissions(settingsFile(), fs::perms::owner_read | fs::perms::owner_write);
        QVERIFY2(ended == status, m_output.constData());
        const QByteArray cause = QString::fromStdString(settingsFile()).toUtf8() + ": Permission denied";
        // One line tells it: the refusal's, or its own where the job goes on.
        QCOMPARE(m_output.count(cause), 1);
        if (status != 0) {
            QVERIFY2(m_output.contains("job refused: the stored options cannot be read: " + cause), m_output.constData());
            QVERIFY2(!m_output.contains("read options error:"), m_output.constData());
            QVERIFY(!QFile::exists(archiveOf(name)));
        } else if (password.isEmpty()) {
            QVERIFY2(m_output.contains("read options error:" + cause), m_output.constData());
            QVERIFY(opens(archiveOf(name), "any"));
            QVERIFY2(!m_output.contains("job refused:"), m_output.constData());
        } else {
            QVERIFY2(m_output.contains("read options error:" + cause), m_output.constData());
            QVERIFY(opens(archiveOf(name), password));
            QVERIFY(!opens(archiveOf(name), "file-pass-9"));
        }
        // The file is left as it was.
        QCOMPARE(settings().value("settings/password").toString(), QString("file-pass-9"));
    }

    // With the password in a keyring that does not answer (the settings
    // file then holds none), a job that does not say whether to encrypt is
    // refused for the keyring, not for an empty password.
    void aKeyringOutOfReachRefusesAJobThatDoesNotSay_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::newRow("no session bus") << "none";
        QTest::newRow("bus without a keyring") << "bare";
        QTest::newRow("keyring that never answers") << "silent";
        QTest::newRow("the session bus's library missing") << "library";
    }
    void aKeyringOutOfReachRefusesAJobThatDoesNotSay()
    {
        QFETCH(QString, bus);
        const QString address = bus == "bare" ? m_bareAddress
            : bus == "silent"                 ? m_silentAddress
            : bus == "library"                ? m_keyringAddress
                                              : "unix:path=" + path("no-bus-here");
        // The executable alone, without the library beside it.
        QString binary = QUILLMERE_BINARY;
        if (bus == "library") {
            binary = path("alone/quillmere");
            QVERIFY(QDir().mkpath(path("alone")));
            QVERIFY(QFile::exists(binary) || QFile::copy(QUILLMERE_BINARY, binary));
        }
        writeSettings("[settings]\nisEncrypt=true\nisSelectDir=false\n");
        QVERIFY2(archive(address, "unreached-" + bus, {}, {}, binary) == 1, m_output.constData());
        QCOMPARE(m_output.contains("load desktop library error:quillmere-desktop.so is neither in "), bus == "library");
        QVERIFY2(m_output.contains("job refused: the stored options cannot be read: the keyring where the password "
                                   "is kept could not be reached; give --encrypt with QUILLMERE_PASSWORD or "
                                   "--password-stdin, or --no-encrypt\n"),
                 m_output.constData());
        QVERIFY(!QFile::exists(archiveOf("unreached-" + bus)));
    }

    // A keyring that takes the question and never answers is given a
    // bounded time; the job then takes the password from the file.
    void aKeyringThatHangsIsNotWaitedFor()
    {
        writeSettings("[settings]\nisEncrypt=true\npassword=file-pass-3\n");
        QVERIFY2(archive(m_silentAddress, "silent") == 0, m_output.constData());
        QVERIFY(opens(archiveOf("silent"), "file-pass-3"));
        QVERIFY2(m_output.contains("keyring error:no answer within "), m_output.constData());
        QVERIFY(m_output.contains("password kept in the settings file: "));
        QCOMPARE(settings().value("settings/password").toString(), QString("file-pass-3"));
    }

    // Stored options that do not encrypt leave the stored password unused:
    // the job neither waits for a keyring that hangs nor moves the password
    // out of the file into one that answers.
    void aJobTheStoredOptionsDoNotEncryptLeavesTheKeyringAlone_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::newRow("keyring that never answers") << "silent";
        QTest::newRow("keyring") << "keyring";
    }
    void aJobTheStoredOptionsDoNotEncryptLeavesTheKeyringAlone()
    {
        QFETCH(QString, bus);
        const std::optional<QString> before = lookup();
        writeSettings("[settings]\nisEncrypt=false\npassword=file-pass-5\n");
        const QString name = "plain-" + bus;
        QVERIFY2(archive(bus == "silent" ? m_silentAddress : m_keyringAddress, name) == 0, m_output.constData());
        QVERIFY(opens(archiveOf(name), "any"));
        QVERIFY2(!m_output.contains("keyring error:"), m_output.constData());
        QVERIFY2(!m_output.contains("password kept in the settings file"), m_output.constData());
        QCOMPARE(settings().value("settings/password").toString(), QString("file-pass-5"));
        QCOMPARE(lookup(), before);
    }

    // A locked keyring hides its items: a removal finds nothing and must not
    // be taken as done, since the password is still there. Last: the
    // keyring stays locked, with no one to type its password.
    void aRemovalInALockedKeyringIsNotDone()
    {
        SecretStore secrets("Quillmere", "password", QDBusConnection::sessionBus());
        std::optional<bool> stored;
        secrets.write(std::string("locked-pass"), [&stored](bool done) { stored = done; });
        QTRY_VERIFY_WITH_TIMEOUT(stored.has_value(), kStartMilliseconds);
        QVERIFY(*stored);
        QDBusMessage lock = QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                           "org.freedesktop.Secret.Service", "Lock");
        lock << QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath("/org/freedesktop/secrets/collection/login")});
        const QDBusMessage locked = QDBusConnection::sessionBus().call(lock);
        QVERIFY2(locked.type() == QDBusMessage::ReplyMessage, qPrintable(locked.errorMessage()));

        stored.reset();
        secrets.write(std::nullopt, [&stored](bool done) { stored = done; });
        QTRY_VERIFY_WITH_TIMEOUT(stored.has_value(), kStartMilliseconds);
        QVERIFY(!*stored);
    }
};

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_Keyring.moc"
