// The stored options: the settings file as Util reads and writes it, and the
// option store with a keyring that answers when the test says so: where the
// password goes, how one in an old settings file moves, and that a password
// that cannot encrypt is never stored.
#include "OptionStore.h"
#include "StdoutCapture.h"
#include "TestFiles.h"
#include "Util.h"

#include <QScopeGuard>
#include <QSettings>
#include <QtTest>

#include <filesystem>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

using Asked = std::vector<std::optional<std::string>>;

namespace {

const SecretReading kAbsent{SecretReading::Result::Absent, {}};
const SecretReading kNoKeyring{}; // no keyring answered

SecretReading found(const std::string& password)
{
    return {SecretReading::Result::Found, password};
}

// A keyring whose writes wait until answer() is called, in the order asked.
struct FakeKeyring {
    SecretReading reading;
    std::optional<std::string> holds;
    int reads = 0;
    std::vector<std::pair<std::optional<std::string>, std::function<void(bool)>>> pending;
    Asked asked;

    explicit FakeKeyring(SecretReading initial = kAbsent)
        : reading(std::move(initial))
    {
    }

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

// Root reads, writes and changes any file: the test does without those
// capabilities, as an ordinary user does. Nothing to do for a user who never
// had them.
bool asOrdinaryUser()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    if (::geteuid() != 0)
        return true;
    if (::syscall(SYS_capget, &header, caps) != 0)
        return false;
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        caps[capability / 32].effective &= ~(1u << (capability % 32));
    return ::syscall(SYS_capset, &header, caps) == 0;
}

} // namespace

class TestOptionStore : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    const std::string m_file = QFile::encodeName(m_dir.path()).toStdString() + "/config/Quillmere/Quillmere.conf";
    int m_writes = 0;
    bool m_ordinaryUser = false;

    // The file as another program might have written it.
    void writeFile(const QByteArray& text)
    {
        ::writeFile(m_file, text.toStdString());
        // A time of its own, so that Qt's cache never takes it for the one before.
        fs::last_write_time(m_file, fs::file_time_type::clock::now() + std::chrono::seconds(++m_writes));
    }

    QStringList keys() const { return QSettings(QString::fromStdString(m_file), QSettings::IniFormat).allKeys(); }
    QVariant value(const char* key) const
    {
        return QSettings(QString::fromStdString(m_file), QSettings::IniFormat).value(key);
    }
    bool fileHoldsPassword() const { return keys().contains("settings/password"); }
    bool fileIsPrivate() const
    {
        return fs::status(m_file).permissions() == (fs::perms::owner_read | fs::perms::owner_write);
    }

private slots:
    // The options live below the temporary folder, never in the user's.
    void initTestCase()
    {
        ::umask(0); // a file open to others would show: its 0600 must come from the code
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()) + "/config");
        // The files whose permissions matter are the test's own, so only
        // the ones made unreadable on purpose are out of reach.
        m_ordinaryUser = asOrdinaryUser();
    }
    void init() { fs::remove_all(fs::path(m_file).parent_path()); }

    // Fields of other types than saved, or unreadable bytes, give the
    // defaults, never a crash or a made-up value.
    void readsOddFilesAsDefaults()
    {
        writeFile("[settings]\nisEncrypt=maybe\npassword=@ByteArray(pw)\nisSelectDir=7\n[other]\nisSelectDir=true\n"
                  + QByteArray("\0\xff\xfe[\x01\n=\x80", 8));
        QCOMPARE(Util::loadSettingStatus(), SettingStatus());
    }

    // Whether to encrypt is never guessed: what is neither true nor false
    // makes the file unreliable, which a job without --encrypt or
    // --no-encrypt refuses.
    void anEncryptionChoiceWrittenByHandIsReadOrTold_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<bool>("told");
        QTest::newRow("true") << QByteArray("isEncrypt=true") << true << false;
        QTest::newRow("False, blanks around") << QByteArray("isEncrypt= False ") << false << false;
        QTest::newRow("missing") << QByteArray("isSelectDir=true") << false << false;
        QTest::newRow("1") << QByteArray("isEncrypt=1") << false << true;
        QTest::newRow("yes") << QByteArray("isEncrypt=yes") << false << true;
        QTest::newRow("empty") << QByteArray("isEncrypt=") << false << true;
    }
    void anEncryptionChoiceWrittenByHandIsReadOrTold()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, encrypt);
        QFETCH(bool, told);
        writeFile("[settings]\n" + line + "\n");
        std::string unreadable;
        QCOMPARE(Util::loadSettingStatusChecked(unreadable).isEncrypt, encrypt);
        QCOMPARE(unreadable.find("isEncrypt is neither true nor false") != std::string::npos, told);
    }

    // A save writes the group whole (others' keys go), the password as a
    // string, into a file for its owner alone. A password that cannot
    // encrypt an archive is left out, an empty one too.
    void savesTheGroupWholeForItsOwnerAlone()
    {
        writeFile("[settings]\nisEncrypt=false\nextra=1\nmore\\nested=2\n");
        const SettingStatus status{true, " a,b \"q\" k=v;#\\n [settings] @Variant(x) パス＼ ", true, true};
        QVERIFY(Util::saveSettingStatus(status));
        QCOMPARE(Util::loadSettingStatus(), status);
        QCOMPARE(keys(), (QStringList{"settings/isEncrypt", "settings/isSelectDir", "settings/nameAfterItems",
                                      "settings/password"}));
        QVERIFY(fileIsPrivate());

        for (const std::string& unusable : {std::string(), std::string(85, 'x'), std::string("パス😀")}) {
            QVERIFY(Util::saveSettingStatus({true, unusable, false, true}));
            QCOMPARE(Util::loadSettingStatus(), (SettingStatus{true, "", false, true}));
            QVERIFY(!fileHoldsPassword());
        }
    }

    // A password an earlier version kept in the settings file goes into the
    // keyring, unless the keyring has it already, and wins over an older
    // one there (saved where no keyring answered); the file loses it only
    // once the keyring has it, and keeps the other options and other
    // groups. The next start reads it back.
    void movesAFilePasswordIntoTheKeyring_data()
    {
        QTest::addColumn<QString>("inKeyring"); // null: nothing
        QTest::addColumn<bool>("written");
        QTest::newRow("nothing in the keyring") << QString() << true;
        QTest::newRow("older one in the keyring") << "older" << true;
        // A move that reached the keyring but not the file is finished.
        QTest::newRow("same one in the keyring") << "old-pass 1" << false;
    }
    void movesAFilePasswordIntoTheKeyring()
    {
        QFETCH(QString, inKeyring);
        QFETCH(bool, written);
        writeFile("[settings]\nisEncrypt=true\npassword=old-pass 1\nisSelectDir=true\n[other]\nkept=1\n");
        FakeKeyring keyring(inKeyring.isNull() ? kAbsent : found(inKeyring.toStdString()));
        {
            OptionStore store(keyring.functions());
            const SettingStatus loaded = store.load();
            QCOMPARE(loaded, (SettingStatus{true, "old-pass 1", true, false}));
            QCOMPARE(store.passwordPlace(loaded), PasswordPlace::Keyring);
            QCOMPARE(keyring.asked, written ? Asked{"old-pass 1"} : Asked{});
            if (written) {
                QVERIFY(fileHoldsPassword());
                keyring.answer(true);
            }
            QVERIFY(!fileHoldsPassword());
            QCOMPARE(keys(), (QStringList{"other/kept", "settings/isEncrypt", "settings/isSelectDir",
                                          "settings/nameAfterItems"}));
            QCOMPARE(value("settings/isEncrypt").toBool(), true);
            QVERIFY(fileIsPrivate());
            // Later reads give the options as they stand, without the keyring.
            QCOMPARE(store.load(), loaded);
            QCOMPARE(keyring.reads, 1);
        }
        keyring.reading = found("old-pass 1");
        OptionStore next(keyring.functions());
        QCOMPARE(next.load(), (SettingStatus{true, "old-pass 1", true, false}));
        QCOMPARE(keyring.asked.size(), size_t(written ? 1 : 0));
    }

    // A file whose encryption choice cannot be read is left as it is at
    // load: no password moves out of it, and no "false" goes over what the
    // user wrote, until a save of the user's own.
    void anUnreadableChoiceLeavesTheFileAsItIs_data()
    {
        QTest::addColumn<int>("keyringReading");
        QTest::newRow("keyring") << int(kAbsent.result);
        QTest::newRow("no keyring") << int(kNoKeyring.result);
    }
    void anUnreadableChoiceLeavesTheFileAsItIs()
    {
        QFETCH(int, keyringReading);
        const QByteArray written = "[settings]\nisEncrypt=1\npassword=\n";
        writeFile(written + "[other]\nkept=1\n");
        const QByteArray before = QByteArray::fromStdString(readFile(m_file));
        FakeKeyring keyring(SecretReading{SecretReading::Result(keyringReading), {}});
        OptionStore store(keyring.functions());
        QCOMPARE(store.load().isEncrypt, false);
        QVERIFY(store.unreadable().find("isEncrypt is neither true nor false: 1") != std::string::npos);
        QCOMPARE(QByteArray::fromStdString(readFile(m_file)), before);
        QVERIFY(keyring.asked.empty());
        QVERIFY(store.save({true, "chosen-pw", false, false}));
        QCOMPARE(value("settings/isEncrypt").toBool(), true);
    }

    // Where no keyring answers, the file keeps the password for its owner
    // alone and the keyring is never written.
    void fallsBackToTheFile()
    {
        FakeKeyring keyring(kNoKeyring);
        OptionStore store(keyring.functions());
        {
            // Nothing to keep, nothing to say: no line at every start of a
            // machine without a keyring.
            StdoutCapture output;
            QCOMPARE(store.load(), SettingStatus());
            QCOMPARE(output.lines(), std::vector<std::string>());
        }
        const SettingStatus saved{false, "パスワード1", false, true};
        QVERIFY(store.save(saved));
        QCOMPARE(store.passwordPlace(saved), PasswordPlace::SettingsFile);
        QCOMPARE(Util::loadSettingStatus(), saved);
        QVERIFY(fileIsPrivate());
        QVERIFY(keyring.asked.empty());
        // The next start, again without a keyring, says where it is.
        FakeKeyring none(kNoKeyring);
        StdoutCapture output;
        OptionStore next(none.functions());
        QCOMPARE(next.load().password, std::string("パスワード1"));
        QCOMPARE(output.lines(), std::vector<std::string>{"password kept in the settings file: no keyring answered"});
        // Without keyring functions at all, the same.
        OptionStore plain;
        QCOMPARE(plain.load(), saved);
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
            QTest::addRow("85 characters, %s", where) << QString(85, 'x') << reachable;
            QTest::addRow("emoji, %s", where) << QString("パス😀") << reachable;
            QTest::addRow("tab, %s", where) << QString("a\tb") << reachable;
        }
    }
    void neverStoresAnUnusablePassword()
    {
        QFETCH(QString, password);
        QFETCH(bool, reachable);
        const std::string unusable = password.toStdString();
        FakeKeyring keyring(reachable ? found("good-one") : kNoKeyring);
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
                QCOMPARE(keyring.asked, Asked{std::nullopt});
                keyring.answer(true);
                QVERIFY(!keyring.holds);
            }
            QVERIFY(!fileHoldsPassword());
        }

        // A file with one, written by hand: never moved, and loaded as it
        // is, so that the job refuses it for what it is; an empty one is
        // removed. A password saved later replaces it.
        const QByteArray byHand = "[settings]\nisEncrypt=true\npassword=\"" + password.toUtf8().replace("\t", "\\t") + "\"\n";
        writeFile(byHand);
        FakeKeyring later(reachable ? kAbsent : kNoKeyring);
        OptionStore store(later.functions());
        QCOMPARE(store.load(), (SettingStatus{true, unusable, false, false}));
        QCOMPARE(fileHoldsPassword(), !unusable.empty());
        QVERIFY(later.asked.empty());
        QVERIFY(store.save({true, "", false, false}));
        QVERIFY(!fileHoldsPassword());

        // Beside a keyring's password that can, it goes at once.
        writeFile(byHand);
        FakeKeyring holding(reachable ? found("good-one") : kNoKeyring);
        OptionStore third(holding.functions());
        QCOMPARE(third.load().password, reachable ? std::string("good-one") : unusable);
        QCOMPARE(fileHoldsPassword(), !reachable && !unusable.empty());
        QVERIFY(holding.asked.empty());
    }

    // Changing the other options leaves the keyring alone; a password typed
    // on is asked in order and the file never holds it. The keyring may
    // answer after the store has gone.
    void writesTheKeyringOnlyForANewPassword()
    {
        FakeKeyring keyring;
        {
            OptionStore store(keyring.functions());
            store.load();
            QVERIFY(store.save({true, "", false, false}));
            QVERIFY(store.save({true, "", true, true}));
            QVERIFY(keyring.asked.empty());
            for (const char* typed : {"a", "ab", "abc"})
                QVERIFY(store.save({true, typed, true, true}));
            QVERIFY(store.save({false, "abc", true, true}));
            QCOMPARE(keyring.asked, (Asked{"a", "ab", "abc"}));
            QVERIFY(!fileHoldsPassword());
            QCOMPARE(Util::loadSettingStatus(), (SettingStatus{false, "", true, true}));
            QCOMPARE(store.load(), (SettingStatus{false, "abc", true, true}));
        }
        keyring.answer(false);
        QVERIFY(!fileHoldsPassword());
    }

    // A removal the keyring did not do (a locked keyring hides the item)
    // leaves the old password there: the settings file remembers that, and
    // the next start neither uses it nor stops asking to remove it.
    void aFailedRemovalDoesNotBringThePasswordBack()
    {
        writeFile("[settings]\nisEncrypt=true\n");
        FakeKeyring keyring(found("old-pass"));
        {
            OptionStore store(keyring.functions());
            SettingStatus options = store.load();
            QCOMPARE(options.password, std::string("old-pass"));
            options.password.clear();
            QVERIFY(store.save(options));
            QCOMPARE(keyring.asked, Asked{std::nullopt});
            StdoutCapture output;
            keyring.answer(false);
            // The keyring says why; a removal has nothing to keep in the file.
            QCOMPARE(output.lines(), std::vector<std::string>());
            QVERIFY(!fileHoldsPassword());
        }
        for (const bool removed : {false, true}) {
            FakeKeyring next(found("old-pass"));
            OptionStore store(next.functions());
            QCOMPARE(store.load(), (SettingStatus{true, "", false, false}));
            QCOMPARE(next.asked, Asked{std::nullopt});
            next.answer(removed);
        }
        // Removed at last: the keyring is trusted again.
        FakeKeyring trusted(found("new-pass"));
        OptionStore store(trusted.functions());
        QCOMPARE(store.load().password, std::string("new-pass"));
        QVERIFY(trusted.asked.empty());
    }

    // A password in a settings file others can read (written by hand, or by
    // an older version) is made private when it is read; where that cannot
    // be done, the store says so and does not claim it.
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
        QVERIFY(m_ordinaryUser);
        FakeKeyring none(kNoKeyring);
        StdoutCapture output;
        OptionStore store(none.functions());
        const SettingStatus loaded = store.load();
        QCOMPARE(loaded.password, std::string("open-pass"));
        std::vector<std::string> said{"password kept in the settings file: no keyring answered"};
        if (!ownFile)
            said.insert(said.begin(), "save options error:the settings file holds the password and could not be "
                                      "made readable by its owner alone: Operation not permitted");
        QCOMPARE(output.lines(), said);
        QCOMPARE(fs::status(m_file).permissions(), ownFile ? fs::perms(0600) : fs::perms(0644));
        QCOMPARE(store.passwordPlace(loaded), ownFile ? PasswordPlace::SettingsFile : PasswordPlace::OpenSettingsFile);
    }

    // A settings file that cannot be written remembers no new password the
    // keyring does not take, and the store does not claim it does; the one
    // the file holds from before is still kept. Once the file takes a save
    // again, the password is where it always was. (Late in the order, as
    // below: a failed write stays in Qt's cache of the file until one works.)
    void aFileThatCannotBeWrittenKeepsNothingNew_data()
    {
        QTest::addColumn<QString>("keyring"); // "none", or its answer to the write
        QTest::addColumn<int>("place");       // of the new password once the save failed
        QTest::newRow("no keyring") << "none" << int(PasswordPlace::Unsaved);
        QTest::newRow("the keyring takes it") << "stores" << int(PasswordPlace::Keyring);
        QTest::newRow("the keyring refuses it") << "refuses" << int(PasswordPlace::Unsaved);
    }
    void aFileThatCannotBeWrittenKeepsNothingNew()
    {
        QFETCH(QString, keyring);
        QFETCH(int, place);
        writeFile("[settings]\nisEncrypt=false\npassword=old-pass\n");
        const fs::path folder = fs::path(m_file).parent_path();
        QVERIFY(m_ordinaryUser);
        FakeKeyring fake(keyring == "none" ? kNoKeyring : kAbsent);
        OptionStore store(fake.functions());
        const SettingStatus loaded = store.load();
        if (keyring != "none")
            fake.answer(true); // the old password moved into the keyring
        const auto makeWritable = [this, &folder] {
            fs::permissions(folder, fs::perms::owner_all);
            fs::permissions(m_file, fs::perms::owner_read | fs::perms::owner_write);
        };
        const auto restore = qScopeGuard(makeWritable); // for the rows after a failed check
        fs::permissions(m_file, fs::perms::owner_read);
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        const SettingStatus typed{true, "new-pass-1", false, false};
        std::vector<std::string> said;
        {
            StdoutCapture output;
            QVERIFY(!store.save(typed));
            if (keyring != "none")
                fake.answer(keyring == "stores");
            said = output.lines();
        }
        QCOMPARE(int(store.passwordPlace(typed)), place);
        // Nothing is told as kept in a file that could not be written.
        QVERIFY(std::ranges::none_of(said, [](const std::string& line) { return line.starts_with("password kept"); }));
        if (keyring == "none")
            QCOMPARE(store.passwordPlace(loaded), PasswordPlace::SettingsFile);

        makeWritable();
        QVERIFY(store.save(typed));
        const PasswordPlace kept = keyring == "stores" ? PasswordPlace::Keyring : PasswordPlace::SettingsFile;
        QCOMPARE(store.passwordPlace(typed), kept);
    }

    // The settings file keeps a password the keyring was to take, and the
    // store says so, also to the window that shows where it is: the keyring
    // refused it, or the file could not be written without it. (Late in
    // the order: after the write that fails, Qt's cache of the file in this
    // process holds what was to be written, for the tests after it too.)
    void theFileKeepsThePassword_data()
    {
        QTest::addColumn<bool>("stored"); // the keyring's answer
        QTest::addColumn<QString>("said");
        QTest::newRow("the keyring refuses")
            << false << "password kept in the settings file: the keyring did not store it";
        QTest::newRow("the file cannot be written")
            << true << "save options error:the settings file could not be written: the password stays in it as well";
    }
    void theFileKeepsThePassword()
    {
        QFETCH(bool, stored);
        QFETCH(QString, said);
        const std::string text = "[settings]\nisEncrypt=true\npassword=old-pass\n";
        writeFile(QByteArray::fromStdString(text));
        const fs::path folder = fs::path(m_file).parent_path();
        if (stored) {
            QVERIFY(m_ordinaryUser);
            fs::permissions(m_file, fs::perms::owner_read);
            fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        }
        FakeKeyring keyring;
        OptionStore store(keyring.functions());
        int told = 0;
        store.whenPasswordPlaceChanges([&] { ++told; });
        const SettingStatus loaded = store.load();
        QCOMPARE(loaded.password, std::string("old-pass"));
        QCOMPARE(store.passwordPlace(loaded), PasswordPlace::Keyring);
        {
            StdoutCapture output;
            keyring.answer(stored);
            QCOMPARE(output.lines(), std::vector<std::string>{said.toStdString()});
        }
        fs::permissions(folder, fs::perms::owner_all);
        QCOMPARE(store.passwordPlace(loaded), PasswordPlace::SettingsFile);
        QCOMPARE(told, 1);
        if (stored) {
            // The bytes: after a write that failed, Qt's cache of the file
            // in this process holds what was to be written.
            QCOMPARE(readFile(m_file), text);
            return;
        }
        QCOMPARE(value("settings/password").toString(), QString("old-pass"));
        // From then on the file takes the passwords saved.
        QVERIFY(store.save({true, "newer-pass", false, true}));
        QCOMPARE(value("settings/password").toString(), QString("newer-pass"));
        QCOMPARE(keyring.asked.size(), size_t(1));
    }

    // A settings file that exists but cannot be read gives the defaults,
    // and the store says why, for the job and the window to act on.
    void anUnreadableFileIsTold()
    {
        const std::string text = "[settings]\nisEncrypt=true\npassword=hidden-pass\n";
        writeFile(QByteArray::fromStdString(text));
        fs::permissions(m_file, fs::perms::none);
        QVERIFY(m_ordinaryUser);
        StdoutCapture output;
        OptionStore store;
        QCOMPARE(store.load(), SettingStatus());
        QCOMPARE(output.lines(), std::vector<std::string>{"read options error:" + m_file + ": Permission denied"});
        // Not written over with the defaults, and the save says it failed.
        QVERIFY(!store.save({false, "", false, false}));
        fs::permissions(m_file, fs::perms::owner_read | fs::perms::owner_write);
        QCOMPARE(readFile(m_file), text);
    }
};

QTEST_GUILESS_MAIN(TestOptionStore)
#include "tst_OptionStore.moc"
