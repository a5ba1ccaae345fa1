#include "FileManager.h"
#include "OpenFolder.h"

#include <QtTest>

#include <cstring>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>

// The output of a shell script, and "(exit N)" when it failed.
static QByteArray sh(const std::string& script)
{
    QProcess shell;
    shell.start("/bin/sh", {"-c", QString::fromStdString(script)});
    return shell.waitForFinished(-1) && shell.exitCode() == 0 ? shell.readAllStandardOutput() : "(exit " + QByteArray::number(shell.exitCode()) + ")";
}

// One line per item, sorted: path, type, permissions (not a folder's: every
// copy of a folder is open to its owner), modification time, link target,
// checksum of the data; and the inode where the very items must stay.
static QByteArray tree(const std::string& top, bool inodes = false)
{
    return sh("find " + top + " \\( -type d -printf '%P/ %T@" + (inodes ? " %i" : "") + "\\n' \\) -o \\( -printf '%P %y %m %T@" + (inodes ? " %i" : "")
              + " %l ' -type f -exec sh -c 'md5sum < \"$0\"' {} \\; \\) -o -printf '\\n' 2>/dev/null | sort");
}

static QByteArray text(const Failure& error) { return error ? QByteArray::fromStdString(*error) : "(no error)"; }
static QByteArray described(int error, const std::string& path) { return std::strerror(error) + (": " + QByteArray::fromStdString(path)); }
static struct stat statOf(const std::string& path) { struct stat info {}; ::lstat(path.c_str(), &info); return info; }

class TestFileManager : public QObject {
    Q_OBJECT
    std::string m_top, m_user, m_other; // m_other: on another file system

private slots:
    // A user's folder with every kind of item the job meets, all with one
    // modification time once everything is made. Tests run as root in CI,
    // where overriding permissions would hide every permission problem: this
    // thread gives that up (the shells it starts get it back).
    void init() {
        __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] {};
        ::syscall(SYS_capget, &header, caps);
        caps[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        QCOMPARE(::syscall(SYS_capset, &header, caps), 0L);
        ::umask(022); // as the application usually runs: a copy must not lose permission bits to it
        // /dev/shm is another file system: see the link refused across file systems.
        m_top = sh("mktemp -d /tmp/quillmere-test-XXXXXX").trimmed().toStdString(), m_user = m_top + "/user", m_other = sh("mktemp -d /dev/shm/quillmere-test-XXXXXX").trimmed().toStdString();
        QCOMPARE(sh("umask 022 && mkdir -p " + m_user + "/sub/deeper " + m_user + "/locked && cd " + m_user + " && seq 100000 > \"$(printf 'big \\377 name')\""
                    " && printf '#!/bin/sh\\n' > run.sh && chmod 755 run.sh && echo read only > readonly.txt && chmod 444 readonly.txt"
                    " && : > sub/deeper/private && chmod 600 sub/deeper/private && echo inner > locked/inner.txt && chmod 555 locked && mkfifo -m 666 pipe"
                    " && ln -s ../readonly.txt sub/link && ln -s nowhere dangling && ln -s sub link-to-folder && find . -exec touch -h -d @1234567890.123456789 {} +"), "");
    }
    void cleanup() { QCOMPARE(sh("chmod -R u+rwx " + m_top + " " + m_other + "; rm -rf " + m_top + " " + m_other), ""); }

    // A finished job's staging folder, whose files are hard links to the
    // user's, goes whole although made read-only, without following a link
    // to the user's folder: the user's items stay as they were.
    void removesStagingWithoutFollowingLinks() {
        const std::string staging = m_top + "/staging";
        const QByteArray before = tree(m_user, true);
        QCOMPARE(text(FileManager::copyItem(m_user, staging, FileManager::FileData::LinkWherePossible)), "(no error)");
        QCOMPARE(statOf(staging + "/readonly.txt").st_ino, statOf(m_user + "/readonly.txt").st_ino);
        QCOMPARE(sh("ln -s " + m_user + " " + staging + "/to-user && cd " + staging + " && chmod 0 sub/deeper && chmod 444 sub && chmod 500 locked && chmod 555 ."), "");
        QCOMPARE(text(FileManager::removeItem(staging)), "(no error)");
        QCOMPARE(tree(staging), "");
        QCOMPARE(tree(m_user, true), before);
    }

    void stagingLinksWherePossible_data() {
        QTest::addColumn<bool>("elsewhere");
        QTest::newRow("hard-linked") << false;
        QTest::newRow("link refused across file systems: copied") << true;
    }
    // Staging links a user's file where it can, else copies its data, permissions
    // and times; it never replaces what is there.
    void stagingLinksWherePossible() {
        QFETCH(bool, elsewhere);
        const std::string staging = elsewhere ? m_other : m_top, item = m_user + "/readonly.txt";
        const auto from = OpenFolder::open(*OpenFolder::working(), m_user, m_user);
        const auto to = OpenFolder::open(*OpenFolder::working(), staging, staging);
        QCOMPARE(text(FileManager::linkOrCopyFile(*from, "readonly.txt", *to, "staged")), "(no error)");
        QCOMPARE(statOf(staging + "/staged").st_ino == statOf(item).st_ino, !elsewhere);
        QCOMPARE(sh("stat -c '%a %y' " + staging + "/staged && cat " + staging + "/staged"), sh("stat -c '%a %y' " + item + " && cat " + item));
        QCOMPARE(text(FileManager::linkOrCopyFile(*from, "run.sh", *to, "staged")), described(EEXIST, staging + "/staged"));
    }

    void moveNeverReplaces_data() {
        QTest::addColumn<QByteArray>("existing"); // makes what is at the target already
        QTest::addColumn<bool>("elsewhere");
        QTest::newRow("within a file system: the very items") << QByteArray(":") << false;
        QTest::newRow("to another file system: copied, then removed") << QByteArray(":") << true;
        QTest::newRow("never onto a file") << QByteArray("echo older > moved") << false;
        QTest::newRow("never onto a folder") << QByteArray("mkdir moved") << false;
        QTest::newRow("never onto a dangling link") << QByteArray("ln -s nowhere moved") << false;
        QTest::newRow("never onto a file on another file system") << QByteArray("echo older > moved") << true;
    }
    // The finished archive goes beside the user's items: whatever is there
    // stays, and so does what was to be moved.
    void moveNeverReplaces() {
        QFETCH(QByteArray, existing); QFETCH(bool, elsewhere);
        const std::string base = elsewhere ? m_other : m_top, target = base + "/moved";
        const bool refused = existing != ":";
        QCOMPARE(sh("cd " + base + " && " + existing.toStdString()), "");
        const QByteArray source = tree(m_user, !elsewhere), there = tree(target, !elsewhere);
        QCOMPARE(text(FileManager::moveItem(m_user, target)), refused ? described(EEXIST, target) : "(no error)");
        QCOMPARE(tree(m_user, !elsewhere), refused ? source : "");
        QCOMPARE(tree(target, !elsewhere), refused ? there : source);
    }

    // A copy never replaces; one unreadable item costs nothing else of its
    // folder; a failure names what failed and where, in the system's own words.
    void copyEdgeCasesAndFailures() {
        const std::string secret = m_user + "/sub/secret";
        QCOMPARE(text(FileManager::createDirectory(m_user + "/run.sh/sub/more")), described(ENOTDIR, m_user + "/run.sh/sub"));
        QCOMPARE(text(FileManager::copyItem(m_user + "/run.sh", m_user + "/dangling")), described(EEXIST, m_user + "/dangling"));
        QCOMPARE(sh(": > " + secret + " && chmod 0 " + secret), "");
        QCOMPARE(text(FileManager::copyItem(m_user + "/sub", m_top + "/copy")), described(EACCES, secret));
        QVERIFY(FileManager::exists(m_top + "/copy/deeper/private"));
    }
};

QTEST_GUILESS_MAIN(TestFileManager)
#include "tst_FileManager.moc"
