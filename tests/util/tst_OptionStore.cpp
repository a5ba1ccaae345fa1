// The option store with a keyring that answers when the test says so: where
// the password goes, how one in an old settings file moves, and that a
// password that cannot encrypt is never stored.
#include "OptionStore.h"
#include "StdoutCapture.h"
#include "Util.h"

#include <QSettings>
#include <QtTest>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A keyring whose writes wait until answer() is called, in the order asked.
struct FakeKeyring {
    SecretReading reading{SecretReading::Result::Absent, {}};
    std::optional<std::string> holds;
    int reads = 0;
    std::vector<std::pair<std::optional<std::string>, std::function<void(bool)>>> pending;
    std::vector<std::optional<std::string>> asked;

    OptionStore::Keyring functions()
    {
        OptionStore::Keyring keyring;
        keyring.read = [this] {
            ++reads;
            return reading;
        };
        keyring.write = [this](const std::optional<std::string>& password, std::function<void(bool)> done) {
            asked.push_back(password);
            pending.emplace_back(password, std::move(done));
        };
        return keyring;
    }

    // Answers the oldest write asked for.
    void answer(bool stored)
    {
        QVERIFY(!pending.empty());
        auto [password, done] = pending.front();
        pending.erase(pending.begin());
        if (stored)
            holds = password;
        done(stored);
    }
};

const std::string kLong(85, 'x');

// Root reads, writes and changes any file: while this lives, the calling
// thread does without those capabilities, as an ordinary user does. Nothing
// to do for a user who never had them.
class AsOrdinaryUser {
public:
    AsOrdinaryUser()
    {
        if (::geteuid() != 0)
            return;
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, m_saved, sizeof reduced);
        for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[capability / 32].effective &= ~(1u << (capability % 32));
        m_dropped = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~AsOrdinaryUser()
    {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    bool works() const { return ::geteuid() != 0 || m_dropped; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

} // namespace

class TestOptionStore : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    const std::string m_file = QFile::encodeName(m_dir.path()).toStdString() + "/config/Quillmere/Quillmere.conf";
    int m_writes = 0;

    void writeFile(const QByteArray& text)
    {
        fs::create_directories(fs::path(m_file).parent_path());
        std::ofstream(m_file, std::ios::binary) << text.toStdString();
        // A time of its own, so that Qt's cache never takes it for the one before.
        fs::last_write_time(m_file, fs::file_time_type::clock::now() + std::chrono::seconds(++m_writes));
    }

    QStringList keys() const { return QSettings(QString::fromStdString(m_file), QSettings::IniFormat).allKeys(); }
    QVariant value(const char* key) const
    {
        return QSettings(QString::fromStdString(m_file), QSettings::IniFormat).value(key);
    }
    bool fileHoldsPassword() const { return keys().contains("settings/password"); }
    // The file's bytes: after a write that failed, Qt's cache of the file in
    // this process holds what was to be written.
    std::string onDisk() const
    {
        std::ifstream in(m_file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private slots:
    void initTestCase()
    {
        ::umask(0); // a file open to others would show: its 0600 must come from the code
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()) + "/config");
    }
    void init() { fs::remove_all(fs::path(m_file).parent_path()); }

    // A password an earlier version kept in the settings file goes into the
    // keyring; the file loses it only once the keyring has it, and keeps
    // the other options and other groups. The next start reads it back.
    void movesAnOldPasswordIntoTheKeyring()
    {
        writeFile("[settings]\nisEncrypt=true\npassword=old-pass 1\nisSelectDir=true\n[other]\nkept=1\n");
        FakeKeyring keyring;
        {
            OptionStore store(keyring.functions());
            const SettingStatus loaded = store.load();
            QCOMPARE(loaded, (SettingStatus{true, "old-pass 1", true, false}));
            QCOMPARE(store.passwordPlace(loaded), PasswordPlace::Keyring);
            QCOMPARE(keyring.asked, (std::vector<std::optional<std::string>>{"old-pass 1"}));
            QVERIFY(fileHoldsPassword());
            keyring.answer(true);
            QVERIFY(!fileHoldsPassword());
            QCOMPARE(keys(), (QStringList{"other/kept", "settings/isEncrypt", "settings/isSelectDir",
                                          "settings/nameAfterItems"}));
            QCOMPARE(value("settings/isEncrypt").toBool(), true);
            QCOMPARE(fs::status(m_file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
            // Later reads give the options as they stand, without the keyring.
            QCOMPARE(store.load(), loaded);
            QCOMPARE(keyring.reads, 1);
        }
        keyring.reading = {SecretReading::Result::Found, *keyring.holds};
        OptionStore next(keyring.functions());
        QCOMPARE(next.load(), (SettingStatus{true, "old-pass 1", true, false}));
        QCOMPARE(keyring.asked.size(), size_t(1));
    }

    // A keyring that refuses the write leaves the password in the file, and
    // the store says so, also to the window that shows where it is.
    void keepsThePasswordInTheFileWhenTheKeyringRefuses()
    {
        writeFile("[settings]\nisEncrypt=true\npassword=old-pass\n");
        FakeKeyring keyring;
        OptionStore store(keyring.functions());
        int told = 0;
        store.whenPasswordPlaceChanges([&] { ++told; });
        QCOMPARE(store.load().password, std::string("old-pass"));
        QCOMPARE(store.passwordPlace(store.load()), PasswordPlace::Keyring);
        keyring.answer(false);
        QCOMPARE(value("settings/password").toString(), QString("old-pass"));
        QCOMPARE(store.passwordPlace(store.load()), PasswordPlace::SettingsFile);
        QCOMPARE(told, 1);
        QVERIFY(store.save({true, "newer-pass", false, true}));
        QCOMPARE(value("settings/password").toString(), QString("newer-pass"));
        QCOMPARE(keyring.asked.size(), size_t(1));
    }

    // The file held a newer password than the keyring (saved where no
    // keyring answered): the file's wins. A move that reached the keyring
    // but not the file is finished without writing the keyring again.
    void theFilesPasswordIsTheNewer_data()
    {
        QTest::addColumn<QString>("inKeyring");
        QTest::addColumn<bool>("written");
        QTest::newRow("older one in the keyring") << "older" << true;
        QTest::newRow("same one in the keyring") << "in-file" << false;
    }
    void theFilesPasswordIsTheNewer()
    {
        QFETCH(QString, inKeyring);
        QFETCH(bool, written);
        writeFile("[settings]\npassword=in-file\n");
        FakeKeyring keyring;
        keyring.reading = {SecretReading::Result::Found, inKeyring.toStdString()};
        OptionStore store(keyring.functions());
        QCOMPARE(store.load().password, std::string("in-file"));
        QCOMPARE(keyring.asked.size(), size_t(written ? 1 : 0));
        if (written)
            keyring.answer(true);
        QVERIFY(!fileHoldsPassword());
    }

    // Where no keyring answers, the file keeps the password for its owner
    // alone and the keyring is never written.
    void fallsBackToTheFile()
    {
        FakeKeyring keyring;
        keyring.reading = {};
        OptionStore store(keyring.functions());
        {
            // Nothing to keep, nothing to say: no line at every start of a
            // machine without a keyring.
            StdoutCapture output;
            QCOMPARE(store.load(), SettingStatus());
            QCOMPARE(output.lines(), std::vector<std::string>());
        }
        QVERIFY(store.save({false, "パスワード1", false, true}));
        QCOMPARE(store.passwordPlace({false, "パスワード1", false, true}), PasswordPlace::SettingsFile);
        QCOMPARE(Util::loadSettingStatus(), (SettingStatus{false, "パスワード1", false, true}));
        QCOMPARE(fs::status(m_file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        QVERIFY(keyring.asked.empty());
        // The next start, again without a keyring, says where it is.
        FakeKeyring none;
        none.reading = {};
        StdoutCapture output;
        OptionStore next(none.functions());
        QCOMPARE(next.load().password, std::string("パスワード1"));
        QCOMPARE(output.lines(), std::vector<std::string>{"password kept in the settings file: no keyring answered"});
        // Without keyring functions at all, the same.
        OptionStore plain;
        QCOMPARE(plain.load(), (SettingStatus{false, "パスワード1", false, true}));
        QCOMPARE(plain.passwordPlace(plain.load()), PasswordPlace::SettingsFile);
    }

    // A password that cannot encrypt an archive, empty included, is never
    // stored: the keyring's is removed, with or without a keyring.
    void neverStoresAnUnusablePassword_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("reachable");
        for (const bool reachable : {true, false}) {
            const char* where = reachable ? "keyring" : "file";
            QTest::addRow("empty, %s", where) << QString() << reachable;
            QTest::addRow("85 characters, %s", where) << QString::fromStdString(kLong) << reachable;
            QTest::addRow("emoji, %s", where) << QString("パス😀") << reachable;
            QTest::addRow("tab, %s", where) << QString("a\tb") << reachable;
        }
    }
    void neverStoresAnUnusablePassword()
    {
        QFETCH(QString, password);
        QFETCH(bool, reachable);
        const std::string unusable = password.toStdString();
        FakeKeyring keyring;
        if (reachable)
            keyring.reading = {SecretReading::Result::Found, "good-one"};
        else
            keyring.reading = {};
        {
            OptionStore store(keyring.functions());
            SettingStatus options = store.load();
            options.password = unusable;
            options.isEncrypt = true;
            QVERIFY(store.save(options));
            QCOMPARE(store.passwordPlace(options), PasswordPlace::NotStored);
            QVERIFY(!fileHoldsPassword());
            QCOMPARE(value("settings/isEncrypt").toBool(), true);
            if (reachable) {
                QCOMPARE(keyring.asked, (std::vector<std::optional<std::string>>{std::nullopt}));
                keyring.answer(true);
                QVERIFY(!keyring.holds);
            }
            QVERIFY(!fileHoldsPassword());
        }

        // A file with one, written by hand: never moved, and loaded as it
        // is, so that the job refuses it for what it is; an empty one is
        // removed. A password saved later replaces it.
        writeFile("[settings]\nisEncrypt=true\npassword=\"" + password.toUtf8().replace("\t", "\\t") + "\"\n");
        FakeKeyring later;
        later.reading = reachable ? SecretReading{SecretReading::Result::Absent, {}} : SecretReading{};
        OptionStore store(later.functions());
        QCOMPARE(store.load(), (SettingStatus{true, unusable, false, false}));
        QCOMPARE(fileHoldsPassword(), !unusable.empty());
        QVERIFY(later.asked.empty());
        QVERIFY(store.save({true, "", false, false}));
        QVERIFY(!fileHoldsPassword());

        // Beside a keyring's password that can, it goes at once.
        writeFile("[settings]\nisEncrypt=true\npassword=\"" + password.toUtf8().replace("\t", "\\t") + "\"\n");
        FakeKeyring holding;
        holding.reading = reachable ? SecretReading{SecretReading::Result::Found, "good-one"} : SecretReading{};
        OptionStore third(holding.functions());
        QCOMPARE(third.load().password, reachable ? std::string("good-one") : unusable);
        QCOMPARE(fileHoldsPassword(), !reachable && !unusable.empty());
        QVERIFY(holding.asked.empty());
    }

    // Changing the other options leaves the keyring alone; a password typed
    // on is asked in order and the file never holds it.
    void writesTheKeyringOnlyForANewPassword()
    {
        FakeKeyring keyring;
        OptionStore store(keyring.functions());
        store.load();
        QVERIFY(store.save({true, "", false, false}));
        QVERIFY(store.save({true, "", true, true}));
        QVERIFY(keyring.asked.empty());
        for (const char* typed : {"a", "ab", "abc"})
            QVERIFY(store.save({true, typed, true, true}));
        QVERIFY(store.save({false, "abc", true, true}));
        QCOMPARE(keyring.asked, (std::vector<std::optional<std::string>>{"a", "ab", "abc"}));
        QVERIFY(!fileHoldsPassword());
        QCOMPARE(Util::loadSettingStatus(), (SettingStatus{false, "", true, true}));
        QCOMPARE(store.load(), (SettingStatus{false, "abc", true, true}));
    }

    // A removal the keyring did not do (a locked keyring hides the item)
    // leaves the old password there: the settings file remembers that, and
    // the next start neither uses it nor stops asking to remove it.
    void aFailedRemovalDoesNotBringThePasswordBack()
    {
        writeFile("[settings]\nisEncrypt=true\n");
        FakeKeyring keyring;
        keyring.reading = {SecretReading::Result::Found, "old-pass"};
        {
            OptionStore store(keyring.functions());
            SettingStatus options = store.load();
            QCOMPARE(options.password, std::string("old-pass"));
            options.password.clear();
            QVERIFY(store.save(options));
            QCOMPARE(keyring.asked, (std::vector<std::optional<std::string>>{std::nullopt}));
            StdoutCapture output;
            keyring.answer(false);
            // The keyring says why; a removal has nothing to keep in the file.
            QCOMPARE(output.lines(), std::vector<std::string>());
            QVERIFY(!fileHoldsPassword());
        }
        for (const bool removed : {false, true}) {
            FakeKeyring next;
            next.reading = {SecretReading::Result::Found, "old-pass"};
            OptionStore store(next.functions());
            QCOMPARE(store.load(), (SettingStatus{true, "", false, false}));
            QCOMPARE(next.asked, (std::vector<std::optional<std::string>>{std::nullopt}));
            next.answer(removed);
        }
        // Removed at last: the keyring is trusted again.
        FakeKeyring trusted;
        trusted.reading = {SecretReading::Result::Found, "new-pass"};
        OptionStore store(trusted.functions());
        QCOMPARE(store.load().password, std::string("new-pass"));
        QVERIFY(trusted.asked.empty());
    }

    // A password in a settings file others can read (written by hand, or by
    // an older version) is made private when it is read; where that cannot
    // be done, the store does not claim it.
    void aPasswordInAnOpenFileIsMadePrivate_data()
    {
        QTest::addColumn<bool>("ownFile");
        QTest::newRow("own file") << true;
        QTest::newRow("another user's file") << false;
    }
    void aPasswordInAnOpenFileIsMadePrivate()
    {
        QFETCH(bool, ownFile);
        writeFile("[settings]\nisEncrypt=true\npassword=open-pass\n");
        fs::permissions(m_file, fs::perms(0644));
        if (!ownFile && (::geteuid() != 0 || ::chown(m_file.c_str(), 65534, 65534) != 0))
            QSKIP("only root can give a file to another user");
        AsOrdinaryUser user;
        QVERIFY(user.works());
        FakeKeyring none;
        none.reading = {};
        StdoutCapture output;
        OptionStore store(none.functions());
        const SettingStatus loaded = store.load();
        QCOMPARE(loaded.password, std::string("open-pass"));
        if (ownFile) {
            QCOMPARE(fs::status(m_file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
            QCOMPARE(store.passwordPlace(loaded), PasswordPlace::SettingsFile);
        } else {
            QCOMPARE(fs::status(m_file).permissions(), fs::perms(0644));
            QVERIFY(store.passwordPlace(loaded) != PasswordPlace::SettingsFile);
            QVERIFY(store.passwordPlace(loaded) != PasswordPlace::Keyring);
            const std::string text = output.text();
            QVERIFY2(text.find("save options error:the settings file holds the password and could not be made "
                               "readable by its owner alone: Operation not permitted")
                         != std::string::npos,
                     text.c_str());
        }
    }

    // A settings file that cannot be written keeps the password the keyring
    // took: it is said, and the place the window shows is the file.
    void aFileThatCannotDropThePasswordIsTold()
    {
        writeFile("[settings]\nisEncrypt=true\npassword=stuck-pass\n");
        const fs::path folder = fs::path(m_file).parent_path();
        AsOrdinaryUser user;
        QVERIFY(user.works());
        fs::permissions(m_file, fs::perms::owner_read);
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        FakeKeyring keyring;
        OptionStore store(keyring.functions());
        int told = 0;
        store.whenPasswordPlaceChanges([&] { ++told; });
        const SettingStatus loaded = store.load();
        QCOMPARE(store.passwordPlace(loaded), PasswordPlace::Keyring);
        StdoutCapture output;
        keyring.answer(true);
        fs::permissions(folder, fs::perms::owner_all);
        QCOMPARE(onDisk(), std::string("[settings]\nisEncrypt=true\npassword=stuck-pass\n"));
        QCOMPARE(output.lines(),
                 std::vector<std::string>{
                     "save options error:the settings file could not be written: the password stays in it as well"});
        QCOMPARE(store.passwordPlace(loaded), PasswordPlace::SettingsFile);
        QCOMPARE(told, 1);
    }

    // A settings file that exists but cannot be read gives the defaults,
    // and the store says why, for the job and the window to act on.
    void anUnreadableFileIsTold()
    {
        writeFile("[settings]\nisEncrypt=true\npassword=hidden-pass\n");
        fs::permissions(m_file, fs::perms::none);
        AsOrdinaryUser user;
        QVERIFY(user.works());
        StdoutCapture output;
        OptionStore store;
        QCOMPARE(store.load(), SettingStatus());
        QCOMPARE(output.lines(), std::vector<std::string>{"read options error:" + m_file + ": Permission denied"});
        // Not written over with the defaults.
        QVERIFY(!store.save({false, "", false, false}));
        fs::permissions(m_file, fs::perms::owner_read | fs::perms::owner_write);
        QCOMPARE(onDisk(), std::string("[settings]\nisEncrypt=true\npassword=hidden-pass\n"));
    }

    // The keyring may answer after the store has gone.
    void lateAnswersFindNoStore()
    {
        FakeKeyring keyring;
        {
            OptionStore store(keyring.functions());
            store.load();
            store.save({true, "pass-1", false, false});
        }
        keyring.answer(false);
        QVERIFY(!fileHoldsPassword());
    }
};

QTEST_GUILESS_MAIN(TestOptionStore)
#include "tst_OptionStore.moc"
