// Files opened with the application arrive as command-line arguments: each
// becomes an absolute path, byte for byte and in order, made from the
// working folder of the start that received it.
#include "AppDelegate.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Paths = std::vector<std::string>;

namespace {

// Stands for the working folder in the expected paths.
const QByteArray kHere = QByteArrayLiteral("<here>");

// Makes folder the working folder while it lives.
class WorkingFolder {
public:
    explicit WorkingFolder(const QString& folder)
        : m_saved(QDir::currentPath())
    {
        QDir::setCurrent(folder);
    }
    ~WorkingFolder() { QDir::setCurrent(m_saved); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

private:
    QString m_saved;
};

// The command line "quillmere" followed by arguments.
Paths pathsFrom(const QByteArrayList& arguments)
{
    std::vector<QByteArray> storage{QByteArrayLiteral("quillmere")};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return AppDelegate::pathsFromArguments(int(storage.size()), argv.data());
}

Paths expectedIn(const QByteArrayList& expected, const std::string& here)
{
    Paths paths;
    for (QByteArray path : expected)
        paths.push_back(path.replace(kHere, QByteArray::fromStdString(here)).toStdString());
    return paths;
}

} // namespace

class TestPathsFromArguments : public QObject {
    Q_OBJECT

private slots:
    void argumentsBecomeAbsolutePaths_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::newRow("none") << QByteArrayList{} << QByteArrayList{};
        QTest::newRow("absolute") << QByteArrayList{"/data/a.txt"} << QByteArrayList{"/data/a.txt"};
        QTest::newRow("relative") << QByteArrayList{"a.txt"} << QByteArrayList{kHere + "/a.txt"};
        QTest::newRow("relative, in a folder") << QByteArrayList{"sub/a.txt"} << QByteArrayList{kHere + "/sub/a.txt"};
        QTest::newRow("relative, above") << QByteArrayList{"../a.txt"} << QByteArrayList{kHere + "/../a.txt"};
        QTest::newRow("folder with a trailing slash") << QByteArrayList{"folder/"} << QByteArrayList{kHere + "/folder/"};
        QTest::newRow("blanks and quotes")
            << QByteArrayList{"a \"b\" 'c'.txt"} << QByteArrayList{kHere + "/a \"b\" 'c'.txt"};
        QTest::newRow("bytes that are not UTF-8")
            << QByteArrayList{"\x82\xa0\xff.bin"} << QByteArrayList{kHere + "/\x82\xa0\xff.bin"};
        // An empty argument would stand for the working folder itself.
        QTest::newRow("empty argument left out") << QByteArrayList{"", "/data/a.txt", ""}
                                                 << QByteArrayList{"/data/a.txt"};
        QTest::newRow("order kept") << QByteArrayList{"/z/b.txt", "a.txt", "/c.txt"}
                                    << QByteArrayList{"/z/b.txt", kHere + "/a.txt", "/c.txt"};
    }
    void argumentsBecomeAbsolutePaths()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QByteArrayList, expected);
        const QTemporaryDir here;
        const WorkingFolder change(here.path());
        // The working folder as the system gives it, links resolved.
        const std::string hereBytes = QFile::encodeName(QDir::currentPath()).toStdString();
        QCOMPARE(pathsFrom(arguments), expectedIn(expected, hereBytes));
    }
};

QTEST_GUILESS_MAIN(TestPathsFromArguments)
#include "tst_PathsFromArguments.moc"
