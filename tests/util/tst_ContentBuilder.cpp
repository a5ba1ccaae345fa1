// Building the content folder from real trees: the names the archive will
// show on Windows, and what is left out and why.
#include "ArchiveContent.h"
#include "Privileges.h"
#include "TestHome.h"
#include "Util.h"
#include "WorkFolders.h"

#include <QtTest>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

Q_DECLARE_METATYPE(LeftOutReason)

namespace {

// Rows where the number of renamed items depends on which sibling the file
// system lists first.
constexpr int kDepends = -1;

} // namespace

class TestContentBuilder : public QObject {
    Q_OBJECT
    std::optional<TestHome> m_home;

    std::string source(const QString& relative) const { return m_home->path() + "/src/" + relative.toStdString(); }

    // "path=content" makes a file, "path/" a folder, "path->target" a link.
    void makeTree(const QStringList& items) const
    {
        for (const QString& item : items) {
            if (item.contains("->")) {
                fs::create_directories(fs::path(source(item.section("->", 0, 0))).parent_path());
                fs::create_symlink(item.section("->", 1).toStdString(), source(item.section("->", 0, 0)));
            } else if (item.endsWith('/')) {
                fs::create_directories(source(item));
            } else {
                m_home->writeFile("src/" + item.section('=', 0, 0).toStdString(), item.section('=', 1).toStdString());
            }
        }
    }

    StagedContent build(const QStringList& dropped) const
    {
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());
        std::vector<std::string> items;
        for (const QString& item : dropped)
            items.push_back(source(item));
        return Util::fixProhibitedCharacters(folders, items, [] { return false; });
    }

    // The archive's entries as Windows shows them, in upper case: which of
    // two names that differ in case keeps it depends on the listing order.
    static QStringList shownUpper(const StagedContent& content)
    {
        QStringList names;
        for (const std::string& entry : content.expectedEntries)
            names << ArchiveContent::shownOnWindows(entry).toUpper();
        names.sort();
        return names;
    }

private slots:
    void initTestCase() { QVERIFY(Privileges::dropFileOverride()); }
    void init() { m_home.emplace(); }
    void cleanup()
    {
        QProcess::execute("chmod", {"-R", "u+rwx", QString::fromStdString(m_home->path())});
        m_home.reset();
    }

    void namesOnWindows_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("renamed");
        const QStringList photos{"p/写真🍣.jpg=sushi", "p/写真🍜.jpg=ramen", "p/写真_.jpg=plain"};
        QTest::newRow("emoji become one name") << photos << QStringList{"p"}
                                               << QStringList{"ARCHIVE/P/写真_ (2).JPG", "ARCHIVE/P/写真_ (3).JPG", "ARCHIVE/P/写真_.JPG"} << kDepends;
        QTest::newRow("prohibited characters meet a name")
            << QStringList{"a:b.txt=1", "a_b.txt=2"} << QStringList{"a:b.txt", "a_b.txt"}
            << QStringList{"ARCHIVE/A_B (2).TXT", "ARCHIVE/A_B.TXT"} << kDepends;
        QTest::newRow("two prohibited characters meet")
            << QStringList{"q?.txt=1", "q*.txt=2"} << QStringList{"q?.txt", "q*.txt"}
            << QStringList{"ARCHIVE/Q_ (2).TXT", "ARCHIVE/Q_.TXT"} << 2;
        QTest::newRow("letter case") << QStringList{"d/Report.txt=1", "d/report.TXT=2"} << QStringList{"d"}
                                     << QStringList{"ARCHIVE/D/REPORT (2).TXT", "ARCHIVE/D/REPORT.TXT"} << 1;
        QTest::newRow("full-width letter case") << QStringList{"d/ａ.txt=1", "d/Ａ.txt=2"} << QStringList{"d"}
                                                << QStringList{"ARCHIVE/D/Ａ (2).TXT", "ARCHIVE/D/Ａ.TXT"} << 1;
        QTest::newRow("composed and decomposed")
            << QStringList{"d/が.txt=1", QString("d/か") + QChar(0x3099) + ".txt=2"} << QStringList{"d"}
            << QStringList{"ARCHIVE/D/が (2).TXT", "ARCHIVE/D/が.TXT"} << 1;
        QTest::newRow("wave dashes") << QStringList{"d/〜.txt=1", "d/～.txt=2"} << QStringList{"d"}
                                     << QStringList{"ARCHIVE/D/～ (2).TXT", "ARCHIVE/D/～.TXT"} << kDepends;
        QTest::newRow("accent transliterated") << QStringList{"d/café.txt=1", "d/cafe.txt=2"} << QStringList{"d"}
                                               << QStringList{"ARCHIVE/D/CAFE (2).TXT", "ARCHIVE/D/CAFE.TXT"} << kDepends;
        QTest::newRow("Hangul") << QStringList{"d/한.txt=1", "d/글.txt=2"} << QStringList{"d"}
                                << QStringList{"ARCHIVE/D/_ (2).TXT", "ARCHIVE/D/_.TXT"} << 2;
        QTest::newRow("same own name from two folders")
            << QStringList{"one/x.txt=1", "two/x.txt=2"} << QStringList{"one/x.txt", "two/x.txt"}
            << QStringList{"ARCHIVE/X (2).TXT", "ARCHIVE/X.TXT"} << 1;
        QTest::newRow("folders with one fixed name stay apart")
            << QStringList{"f?/a.txt=1", "f*/a.txt=2"} << QStringList{"f?", "f*"}
            << QStringList{"ARCHIVE/F_ (2)/A.TXT", "ARCHIVE/F_/A.TXT"} << 2;
        QTest::newRow("collisions at two depths")
            << QStringList{"t/s?/x?.txt=1", "t/s?/x*.txt=2", "t/s*/x?.txt=3", "t/s*/x*.txt=4"} << QStringList{"t"}
            << QStringList{"ARCHIVE/T/S_ (2)/X_ (2).TXT", "ARCHIVE/T/S_ (2)/X_.TXT", "ARCHIVE/T/S_/X_ (2).TXT",
                           "ARCHIVE/T/S_/X_.TXT"}
            << 6;
        QTest::newRow("names without collision stay") << QStringList{"d/メモ 1.txt=1", "d/_x_=2"} << QStringList{"d"}
                                                      << QStringList{"ARCHIVE/D/_X_", "ARCHIVE/D/メモ 1.TXT"} << 0;
        QTest::newRow("empty and hidden-only folders")
            << QStringList{"d/empty/", "d/h/.hidden=1", "d/ds/.DS_Store=x"} << QStringList{"d"}
            << QStringList{"ARCHIVE/D/DS/", "ARCHIVE/D/EMPTY/", "ARCHIVE/D/H/", "ARCHIVE/D/H/.HIDDEN"} << 0;
        QTest::newRow("links archived as what they lead to")
            << QStringList{"d/real.txt=data", "d/link.txt->real.txt", "outside/o.txt=o", "d/out->../outside"}
            << QStringList{"d"} << QStringList{"ARCHIVE/D/LINK.TXT", "ARCHIVE/D/OUT/O.TXT", "ARCHIVE/D/REAL.TXT"} << 0;
    }
    void namesOnWindows()
    {
        QFETCH(QStringList, tree);
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, entries);
        QFETCH(int, renamed);
        makeTree(tree);
        const StagedContent content = build(dropped);
        QCOMPARE(shownUpper(content), entries);
        if (renamed != kDepends)
            QCOMPARE(int(content.report.renamed.size()), renamed);
        QVERIFY(content.report.leftOut.empty());
    }

    // A thousand names that all become "_.txt" on Windows: each gets one of
    // its own.
    void thousandNamesThatMeet()
    {
        QStringList tree;
        for (int i = 0; i < 1000; ++i)
            tree << "d/" + QString(QChar(0xAC00 + i)) + ".txt=" + QString::number(i);
        makeTree(tree);
        const StagedContent content = build({"d"});
        const QStringList names = shownUpper(content);
        QCOMPARE(content.report.fileCount, 1000);
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), 1000);
        QVERIFY(names.contains("ARCHIVE/D/_.TXT"));
        QVERIFY(names.contains("ARCHIVE/D/_ (1000).TXT"));
    }

    // Many folders, filled by several stagers at once: every file and
    // folder is counted once, each folder's pair of names that meet is
    // kept apart, and the report lists come out in the order of their
    // paths whichever stager met them.
    void manyFoldersFilledSideBySide()
    {
        QStringList tree;
        const int folders = 60;
        for (int i = 0; i < folders; ++i) {
            const QString folder = QString("d/f%1/g/").arg(i, 2, 10, QChar('0'));
            tree << folder + "a.txt=1" << folder + "A.TXT=2" << folder + "b.txt=3" << folder + "gone->nowhere";
        }
        makeTree(tree);
        const StagedContent content = build({"d"});
        QCOMPARE(content.report.fileCount, 3 * folders);
        QCOMPARE(content.report.folderCount, 1 + 2 * folders);
        const QStringList names = shownUpper(content);
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        QCOMPARE(int(content.report.renamed.size()), folders);
        QCOMPARE(int(content.report.leftOut.size()), folders);
        QVERIFY(std::is_sorted(content.report.renamed.begin(), content.report.renamed.end(),
                               [](const RenamedItem& a, const RenamedItem& b) { return a.original < b.original; }));
        QVERIFY(std::is_sorted(content.report.leftOut.begin(), content.report.leftOut.end(),
                               [](const LeftOutItem& a, const LeftOutItem& b) { return a.path < b.path; }));
    }

    void leftOut_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QString>("dropped");
        QTest::addColumn<LeftOutReason>("reason");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("dangling link inside") << QStringList{"d/ok=1", "d/gone->nowhere"} << "d"
                                              << LeftOutReason::DanglingLink << QStringList{"ARCHIVE/D/OK"};
        QTest::newRow("dangling link dropped") << QStringList{"gone->nowhere"} << "gone" << LeftOutReason::DanglingLink
                                               << QStringList{"ARCHIVE/"};
        QTest::newRow("link loop") << QStringList{"d/ok=1", "d/loop->."} << "d" << LeftOutReason::LinkLoop
                                   << QStringList{"ARCHIVE/D/OK"};
        QTest::newRow("missing item") << QStringList{} << "nothing" << LeftOutReason::Missing << QStringList{"ARCHIVE/"};
        QTest::newRow("path holding .DS_Store") << QStringList{"d/ok=1", "d/x.DS_Store.txt=2"} << "d"
                                                << LeftOutReason::ExcludedName << QStringList{"ARCHIVE/D/OK"};
    }
    void leftOut()
    {
        QFETCH(QStringList, tree);
        QFETCH(QString, dropped);
        QFETCH(LeftOutReason, reason);
        QFETCH(QStringList, entries);
        makeTree(tree);
        const StagedContent content = build({dropped});
        QCOMPARE(int(content.report.leftOut.size()), 1);
        QCOMPARE(content.report.leftOut.front().reason, reason);
        QCOMPARE(shownUpper(content), entries);
    }

    // As a user without the power to read everything: a file and a folder
    // the user cannot read stay out; their siblings go in.
    void unreadableItemsStayOut()
    {
        makeTree({"d/secret.txt=s", "d/locked/inner.txt=i", "d/ok.txt=o", "d/open/x.txt=x"});
        fs::permissions(source("d/secret.txt"), fs::perms::none);
        fs::permissions(source("d/locked"), fs::perms::none);
        const StagedContent content = build({"d"});
        QCOMPARE(shownUpper(content), (QStringList{"ARCHIVE/D/OK.TXT", "ARCHIVE/D/OPEN/X.TXT"}));
        QCOMPARE(int(content.report.leftOut.size()), 2);
        QCOMPARE(content.report.leftOut.at(0).reason, LeftOutReason::Unreadable);
        QCOMPARE(content.report.leftOut.at(1).reason, LeftOutReason::Unreadable);
    }

    // The home folder given whole holds the work folder, where the content
    // is built: that folder stays out, or the tree would copy itself.
    void homeFolderLeavesTheWorkFolderOut()
    {
        makeTree({"note.txt=n"});
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());
        const StagedContent content = Util::fixProhibitedCharacters(folders, {m_home->path()}, [] { return false; });
        QCOMPARE(content.report.fileCount, 1);
        QVERIFY(shownUpper(content).front().endsWith("/SRC/NOTE.TXT"));
    }

    void sameItemGivenTwiceGoesInOnce()
    {
        makeTree({"a.txt=1"});
        const StagedContent content = build({"a.txt", "a.txt"});
        QCOMPARE(shownUpper(content), QStringList{"ARCHIVE/A.TXT"});
        QCOMPARE(content.report.leftOut.front().reason, LeftOutReason::SameItem);
    }

    void windowsWarnings()
    {
        makeTree({"d/CON.txt=1", "d/trailing.=2", QString("d/") + QString(250, 'l') + "/x.txt=3"});
        const StagedContent content = build({"d"});
        QCOMPARE(int(content.report.warnings.size()), 3);
    }
};

QTEST_GUILESS_MAIN(TestContentBuilder)
#include "tst_ContentBuilder.moc"
