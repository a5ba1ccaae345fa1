// The name an archive takes after the items it was made of.
#include "ArchiveName.h"

#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

using Names = std::vector<std::string>;
Q_DECLARE_METATYPE(Names)

class TestArchiveName : public QObject {
    Q_OBJECT

private slots:
    void fitsTheNameForWindows_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("fitted");
        auto row = [](const char* label, const char* name, const char* fitted) {
            QTest::newRow(label) << QByteArray(name) << QByteArray(fitted);
        };
        row("plain", "見積書", "見積書");
        row("the nine characters", "a<b>c:d\"e|f?g*h\\i", "a_b_c_d_e_f_g_h_i");
        row("a device name", "CON", "CON_");
        row("a device name in another case", "lpt1", "lpt1_");
        row("trailing dots and blanks go", "report. . ", "report");
        row("leading dots would hide it", "..config", "config");
        row("leading blanks", "  memo", "memo");
        row("nothing but dots", "...", "archive");
        row("empty", "", "archive");
        row("the root folder", "/", "archive");
        row("a control character", "a\tb\x7f" "c", "a_b_c");
        row("a C1 control character", "a\xc2\x85" "b", "a_b");
        row("bytes that are no UTF-8", "caf\xe9" "-\xff", "caf_-_");
        row("a truncated sequence", "ab\xe8\xa6", "ab__");
        row("an overlong sequence", "a\xc0\xaf" "b", "a__b");
    }
    void fitsTheNameForWindows()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, fitted);
        QCOMPARE(QByteArray::fromStdString(ArchiveName::fitted(name.toStdString())), fitted);
    }

    // Long names are cut at a character's end, with room left for a number
    // and ".zip" within the 255 bytes a name may have.
    void cutsLongNamesAtACharacter()
    {
        std::string name;
        for (int i = 0; i < 100; ++i)
            name += "見";
        const std::string fitted = ArchiveName::fitted(name);
        QVERIFY(fitted.size() <= 200);
        QCOMPARE(fitted.size() % 3, std::size_t(0));
        QVERIFY(fitted.size() + std::string("99999.zip").size() <= 255);
        QVERIFY(name.starts_with(fitted));
    }

    void namesTheArchiveAfterTheItems_data()
    {
        QTest::addColumn<Names>("items"); // below the test folder
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("a file without its extension") << Names{"見積書フォルダ/見積書.xlsx"} << QByteArray("見積書");
        QTest::newRow("only the last extension") << Names{"見積書フォルダ/data.tar.gz"} << QByteArray("data.tar");
        QTest::newRow("a file without extension") << Names{"見積書フォルダ/README"} << QByteArray("README");
        QTest::newRow("a hidden file") << Names{"見積書フォルダ/.profile"} << QByteArray("profile");
        QTest::newRow("a folder keeps its dots") << Names{"見積書フォルダ/v1.2"} << QByteArray("v1.2");
        QTest::newRow("a folder given with a slash") << Names{"見積書フォルダ/v1.2/"} << QByteArray("v1.2");
        QTest::newRow("several: the first one's folder") << Names{"見積書フォルダ/見積書.xlsx", "other/b.txt"} << QByteArray("見積書フォルダ");
        QTest::newRow("a missing file is named all the same") << Names{"見積書フォルダ/gone.txt"} << QByteArray("gone");
    }
    void namesTheArchiveAfterTheItems()
    {
        QFETCH(Names, items);
        QFETCH(QByteArray, name);
        QTemporaryDir top;
        const std::string root = top.path().toStdString();
        writeFile(root + "/見積書フォルダ/見積書.xlsx", "x");
        writeFile(root + "/見積書フォルダ/data.tar.gz", "x");
        writeFile(root + "/見積書フォルダ/README", "x");
        writeFile(root + "/見積書フォルダ/.profile", "x");
        writeFile(root + "/見積書フォルダ/v1.2/inside.txt", "x");
        writeFile(root + "/other/b.txt", "x");
        Names paths;
        for (const std::string& item : items)
            paths.push_back(root + "/" + item);
        QCOMPARE(QByteArray::fromStdString(ArchiveName::forItems(paths)), name);
    }

    void theRootFolderGivesNoName()
    {
        QCOMPARE(ArchiveName::forItems({"/etc", "/usr"}), std::string("archive"));
        QCOMPARE(ArchiveName::forItems({}), std::string("archive"));
    }
};

QTEST_GUILESS_MAIN(TestArchiveName)
#include "tst_ArchiveName.moc"
