// The destination chooser: a folder-only dialog that does not block, offers
// no way to create a folder, and answers once with the folder's bytes or a
// cancellation.
#include "DialogFolderChooser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

struct Answer {
    int count = 0;
    bool accepted = false;
    std::string folder;
};

} // namespace

class TestDialogFolderChooser : public QObject {
    Q_OBJECT
private slots:
    void showsAFolderOnlyDialogWithoutBlocking();
    void cancellingAnswersOnceWithoutAFolder();
    void confirmingAnswersWithTheChosenFolder();

private:
    QFileDialog* open(QWidget& window, Answer& answer);
};

QFileDialog* TestDialogFolderChooser::open(QWidget& window, Answer& answer)
{
    DialogFolderChooser chooser(&window);
    chooser.chooseFolder([&answer](bool accepted, const std::string& folder) {
        ++answer.count;
        answer.accepted = accepted;
        answer.folder = folder;
    });
    return window.findChild<QFileDialog*>();
}

void TestDialogFolderChooser::showsAFolderOnlyDialogWithoutBlocking()
{
    QWidget window;
    window.show();
    Answer answer;
    QFileDialog* dialog = open(window, answer);
    // chooseFolder has returned while the dialog is still up.
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(answer.count, 0);
    QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
    QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
    QVERIFY(dialog->testOption(QFileDialog::ReadOnly));
    QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    auto* newFolder = dialog->findChild<QToolButton*>(QStringLiteral("newFolderButton"));
    QVERIFY(newFolder);
    QVERIFY(!newFolder->isVisible());
    QVERIFY(!newFolder->isEnabled());
    dialog->reject();
}

void TestDialogFolderChooser::cancellingAnswersOnceWithoutAFolder()
{
    QWidget window;
    window.show();
    Answer answer;
    QPointer<QFileDialog> dialog = open(window, answer);
    QVERIFY(dialog);
    dialog->reject();
    QCOMPARE(answer.count, 1);
    QVERIFY(!answer.accepted);
    QCOMPARE(answer.folder, std::string());
    QTRY_VERIFY(dialog.isNull());
}

void TestDialogFolderChooser::confirmingAnswersWithTheChosenFolder()
{
    QTemporaryDir base;
    QVERIFY(QDir(base.path()).mkpath(QStringLiteral("保存先")));
    const QString target = base.filePath(QStringLiteral("保存先"));
    QWidget window;
    window.show();
    Answer answer;
    QPointer<QFileDialog> dialog = open(window, answer);
    QVERIFY(dialog);
    dialog->setDirectory(base.path());
    dialog->selectFile(target);
    // As the user would: Enter in the dialog confirms the selection.
    QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog.data(), Qt::Key_Return);
    QCOMPARE(answer.count, 1);
    QVERIFY(answer.accepted);
    QCOMPARE(QByteArray::fromStdString(answer.folder), QFile::encodeName(target));
    QTRY_VERIFY(dialog.isNull());
}

QTEST_MAIN(TestDialogFolderChooser)
#include "tst_DialogFolderChooser.moc"
