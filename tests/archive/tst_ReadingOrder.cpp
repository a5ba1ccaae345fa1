// The file the progress names while php writes: the files in the order
// php's own directory iterator reads them, each for as many bytes as it
// holds. php itself tells the order the walk must match.
#include "ReadingOrder.h"

#include <QtTest>

#include <map>

class TestReadingOrder : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;

    QString path(const QString& relative) const { return m_scratch.filePath(relative); }

    void writeFile(const QString& relative, int size) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile file(path(relative));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(QByteArray(size, 'x')), size);
    }

    // The files php's iterator reads, in its order, as the writer picks them.
    QStringList phpOrder() const
    {
        QProcess php;
        php.setWorkingDirectory(path("output"));
        php.start("php", {"-r", R"PHP($it = new RecursiveIteratorIterator(new RecursiveDirectoryIterator("archive"));
foreach ($it as $f) { if ($f->isFile() && strpos($f->getPathname(), ".DS_Store") === false) echo substr($f->getPathname(), 8), "\n"; })PHP"});
        if (!php.waitForFinished(30000) || php.exitCode() != 0)
            return {};
        return QString::fromUtf8(php.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_scratch.isValid());
        writeFile("output/archive/b.txt", 100);
        writeFile("output/archive/a/one.txt", 200);
        writeFile("output/archive/a/.DS_Store", 50);
        writeFile("output/archive/a/deep/two.bin", 300);
        writeFile("output/archive/x.DS_Store.d/three.txt", 30);
        writeFile("outside.txt", 400);
        QVERIFY(QFile::link(path("outside.txt"), path("output/archive/a/link.txt")));
        QVERIFY(QDir().mkpath(path("output/archive/empty")));
        for (const char* name : {"b.txt", "a/one.txt", "a/deep/two.bin", "a/link.txt"})
            m_onDisk[name] = QFileInfo(path("output/archive/") + name).size();
    }

    void followsPhpFileByFile_data()
    {
        QTest::addColumn<int>("stagedMore"); // what the staged sizes add to the files' sizes now
        QTest::newRow("sizes looked at") << -1;
        QTest::newRow("sizes as staged, not looked at") << 7;
    }
    void followsPhpFileByFile()
    {
        QFETCH(int, stagedMore);
        const QStringList expected = phpOrder();
        QCOMPARE(expected.size(), 4);

        std::vector<StagedFile> staged;
        if (stagedMore >= 0)
            for (const auto& [name, size] : m_onDisk)
                staged.push_back({"archive/" + name, 0, 0, 0, static_cast<off_t>(size + stagedMore)});
        staged.push_back({"elsewhere/b.txt", 0, 0, 0, 1}); // not below the content folder: no size of its
        const ReadingOrder order = ReadingOrder::of(path("output/archive").toStdString(), ReadingOrder::sizesOf(staged));

        uint64_t before = 0;
        for (const QString& file : expected) {
            const uint64_t size = m_onDisk.at(file.toStdString()) + std::max(0, stagedMore);
            QCOMPARE(QString::fromStdString(order.itemAt(before)), file);
            QCOMPARE(QString::fromStdString(order.itemAt(before + size - 1)), file);
            before += size;
        }
        QCOMPARE(order.itemAt(before), std::string());
    }

    // php looks for ".DS_Store" below the output folder: a work folder
    // whose own path holds it leaves nothing out, and a folder with no file
    // leaves nothing to read.
    void onlyTheArchivesPathsCount_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("file"); // the only file, if any
        QTest::newRow("work folder named like .DS_Store") << "home.DS_Store/archive" << "g.txt";
        QTest::newRow("an empty content folder") << "bare/archive" << "";
    }
    void onlyTheArchivesPathsCount()
    {
        QFETCH(QString, content);
        QFETCH(QString, file);
        QVERIFY(QDir().mkpath(path(content)));
        if (!file.isEmpty())
            writeFile(content + "/" + file, 10);
        const ReadingOrder order = ReadingOrder::of(path(content).toStdString());
        QCOMPARE(order.empty(), file.isEmpty());
        QCOMPARE(QString::fromStdString(order.itemAt(0)), file);
    }

private:
    std::map<std::string, qint64> m_onDisk;
};

QTEST_GUILESS_MAIN(TestReadingOrder)
#include "tst_ReadingOrder.moc"
