// The real program, started several times under a home folder whose path is
// long and holds blanks and quotes: later starts hand their files to the one
// instance that runs and end at once with status 0, however quickly they
// follow each other, and that instance makes all their archives. A start
// that cannot reach the running instance says so and makes nothing.
#include "AppFolders.h"
#include "AppProcess.h"
#include "ZipReader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <filesystem>

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const int kStartMilliseconds = 20000;
const int kJobMilliseconds = 30000;
// A start waits this long for an instance it cannot reach, then gives up.
const int kGiveUpMilliseconds = 30000;

// The entry names of every archive in folder, sorted.
Names namesInArchives(const std::string& folder)
{
    Names names;
    for (const char* archive : {"archive.zip", "archive1.zip", "archive2.zip"}) {
        const Names inside = ZipReader(folder + "/" + archive).names();
        names.insert(names.end(), inside.begin(), inside.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

class TestSecondStart : public QObject {
    Q_OBJECT

    // Runs a later start to its end: its exit status, or -1 when it did not
    // end by itself.
    static int runToEnd(const AppFolders& folders, const std::string& workingFolder, const Names& arguments)
    {
        AppProcess later(QUILLMERE_BINARY, folders.setting());
        later.start(workingFolder, arguments);
        return later.waitForEnd(kStartMilliseconds) && later.endedNormally() ? later.exitCode() : -1;
    }

private slots:
    void laterStartsReachTheFirstInstanceInOrder()
    {
        const AppFolders folders;
        folders.writeItem("first.txt", "first\n");
        folders.writeItem("second.txt", "second\n");
        AppProcess first(QUILLMERE_BINARY, folders.setting());
        first.start(folders.home(), {});
        QTRY_VERIFY_WITH_TIMEOUT(folders.channelIsOpen(), kStartMilliseconds);
        // Relative paths, from two different working folders.
        QCOMPARE(runToEnd(folders, folders.items(), {"first.txt"}), 0);
        QCOMPARE(runToEnd(folders, folders.items() + "/..", {"items/second.txt"}), 0);
        // Without files the window only comes to the front.
        QCOMPARE(runToEnd(folders, folders.home(), {}), 0);

        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(folders.items() + "/archive1.zip"), kJobMilliseconds);
        QCOMPARE(ZipReader(folders.items() + "/archive.zip").names(), Names{"archive/first.txt"});
        QCOMPARE(ZipReader(folders.items() + "/archive1.zip").names(), Names{"archive/second.txt"});
        QVERIFY(!fs::exists(folders.items() + "/archive2.zip"));
        QVERIFY(first.isRunning());
    }

    void quickStartsMeetOneInstance()
    {
        const AppFolders folders;
        const std::array<std::string, 3> items{folders.writeItem("a.txt", "a\n"), folders.writeItem("b.txt", "b\n"),
                                               folders.writeItem("c.txt", "c\n")};
        std::array<std::unique_ptr<AppProcess>, 3> starts;
        for (size_t i = 0; i < starts.size(); ++i) {
            starts[i] = std::make_unique<AppProcess>(QUILLMERE_BINARY, folders.setting());
            starts[i]->start(folders.home(), {items[i]});
        }
        const auto running = [&] {
            return std::count_if(starts.begin(), starts.end(), [](const auto& start) { return start->isRunning(); });
        };
        const auto handedOver = [&] {
            return std::count_if(starts.begin(), starts.end(),
                                 [](const auto& start) { return start->endedNormally() && start->exitCode() == 0; });
        };

        QTRY_VERIFY_WITH_TIMEOUT(running() == 1, kStartMilliseconds);
        QCOMPARE(handedOver(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(folders.items() + "/archive2.zip"), kJobMilliseconds);
        QCOMPARE(namesInArchives(folders.items()), (Names{"archive/a.txt", "archive/b.txt", "archive/c.txt"}));
        QVERIFY(!fs::exists(folders.items() + "/archive3.zip"));
    }

    // A start from a session with another runtime folder finds the lock
    // held but not the socket.
    void aStartThatCannotReachTheInstanceSaysSoAndMakesNothing()
    {
        const AppFolders folders;
        const std::string item = folders.writeItem("a.txt", "a\n");
        AppProcess first(QUILLMERE_BINARY, folders.setting());
        first.start(folders.home(), {});
        QTRY_VERIFY_WITH_TIMEOUT(folders.channelIsOpen(), kStartMilliseconds);
        const QTemporaryDir otherSession;
        AppProcess::Setting elsewhere = folders.setting();
        elsewhere.runtimeFolder = QFile::encodeName(otherSession.path()).toStdString();
        AppProcess later(QUILLMERE_BINARY, elsewhere);
        later.start(folders.home(), {item});

        QVERIFY(later.waitForEnd(kGiveUpMilliseconds));
        QCOMPARE(later.exitCode(), 1);
        QVERIFY2(later.output().find("the running Quillmere could not be reached") != std::string::npos,
                 later.output().c_str());
        QVERIFY(!fs::exists(folders.items() + "/archive.zip"));
        QVERIFY(first.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestSecondStart)
#include "tst_SecondStart.moc"
