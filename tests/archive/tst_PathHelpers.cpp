// The small path helpers, in one table: each row is one helper applied to
// one input.
#include "AppDelegate.h"
#include "Delivery.h"
#include "PathText.h"
#include "ShellWord.h"

#include <QtTest>

#include <filesystem>
#include <fstream>

class TestPathHelpers : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;

    std::string folderHolding(const QStringList& names) const
    {
        const std::string folder = QFile::encodeName(m_scratch.path()).toStdString() + "/" + QTest::currentDataTag();
        std::filesystem::create_directories(folder);
        for (const QString& name : names)
            std::ofstream(folder + "/" + name.toStdString());
        return folder;
    }

    std::string apply(const QString& helper, const QString& input) const
    {
        const std::string text = input.toStdString();
        if (helper == "parentFolder")
            return PathText::parentFolder(text);
        if (helper == "lastComponent")
            return PathText::lastComponent(text);
        if (helper == "quoteIfNeeded")
            return ShellWord::quoteIfNeeded(text);
        if (helper == "freeArchiveName")
            return Delivery::freeArchiveName(folderHolding(input.split(',', Qt::SkipEmptyParts)));
        if (helper == "pathsFromArguments") {
            QByteArray argument = input.toUtf8();
            char program[] = "quillmere";
            char* argv[] = {program, argument.data()};
            const std::vector<std::string> paths = AppDelegate::pathsFromArguments(2, argv);
            return paths.empty() ? "(none)" : paths.front();
        }
        return "unknown helper";
    }

private slots:
    void helper_data()
    {
        QTest::addColumn<QString>("helper");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("parent of a file") << "parentFolder" << "/home/u/a.txt" << "/home/u";
        QTest::newRow("parent of a folder with a slash") << "parentFolder" << "/home/u/dir/" << "/home/u";
        QTest::newRow("parent at the top") << "parentFolder" << "/a" << "/";
        QTest::newRow("parent of a bare name") << "parentFolder" << "a" << ".";
        QTest::newRow("last of a file") << "lastComponent" << "/home/u/写真.jpg" << "写真.jpg";
        QTest::newRow("last of a folder with slashes") << "lastComponent" << "/home/u/dir//" << "dir";
        QTest::newRow("last of the root") << "lastComponent" << "/" << "/";
        QTest::newRow("plain word unquoted") << "quoteIfNeeded" << "/home/u-1/a_b.c+d,e@f%g=h:i" << "/home/u-1/a_b.c+d,e@f%g=h:i";
        QTest::newRow("blank quoted") << "quoteIfNeeded" << "/home/a b" << "'/home/a b'";
        QTest::newRow("single quote closed and escaped") << "quoteIfNeeded" << "it's" << "'it'\\''s'";
        QTest::newRow("dollar and backquote quoted") << "quoteIfNeeded" << "$HOME`x`" << "'$HOME`x`'";
        QTest::newRow("empty quoted") << "quoteIfNeeded" << "" << "''";
        QTest::newRow("free name in an empty folder") << "freeArchiveName" << "" << "archive.zip";
        QTest::newRow("free name after two") << "freeArchiveName" << "archive.zip,archive1.zip" << "archive2.zip";
        QTest::newRow("free name in a gap") << "freeArchiveName" << "archive1.zip" << "archive.zip";
        QTest::newRow("absolute argument kept") << "pathsFromArguments" << "/tmp/a b" << "/tmp/a b";
        QTest::newRow("trailing slash kept") << "pathsFromArguments" << "/tmp/folder/" << "/tmp/folder/";
        QTest::newRow("empty argument dropped") << "pathsFromArguments" << "" << "(none)";
        QTest::newRow("relative argument made absolute")
            << "pathsFromArguments" << "rel/x" << QDir::currentPath() + "/rel/x";
    }
    void helper()
    {
        QFETCH(QString, helper);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(apply(helper, input)), expected);
    }
};

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "tst_PathHelpers.moc"
