// The window as a user meets it: options loaded at start and saved when it
// disappears, the password controls, drops turned into jobs with the options
// shown at that moment, the pictures during a drag, the log lines, the quit
// question and the notification of jobs that end out of sight.
//
// HOME and XDG_CONFIG_HOME point at a fresh folder of the build tree (set by
// CTest before the process starts); the first test sees nothing stored.
#include "DecliningUpdateNotice.h"
#include "DragSimulation.h"
#include "FileDragDropTopLayerView.h"
#include "FolderChooser.h"
#include "JobQueue.h"
#include "JobStatusView.h"
#include "LogCapture.h"
#include "PictureView.h"
#include "RecordingFolderOpener.h"
#include "RecordingNotifier.h"
#include "RecordingUrlOpener.h"
#include "RecordingZipAction.h"
#include "ScriptedQuitConfirmation.h"
#include "UpdateCheck.h"
#include "Util.h"
#include "ViewController.h"
#include "ZipAction.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(SettingStatus)

namespace {

// Keeps the chooser's answer for the test to give later, as a dialog would.
class PendingFolderChooser : public FolderChooser {
public:
    void chooseFolder(Done done) override
    {
        ++asked;
        pending = std::move(done);
    }
    int asked = 0;
    Done pending;
};

void removeStoredOptions()
{
    const QSettings settings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere"));
    QFile::remove(settings.fileName());
}

QByteArray bytes(const QString& path)
{
    return QFile::encodeName(path);
}

// A checkbox reacts to clicks on its box and label only, not on the empty
// width the layout gives it.
void click(QCheckBox* box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect clickable = box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, clickable.center());
}

} // namespace

class TestViewController : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void firstRunShowsTheLayoutAsMade();
    void storedOptionsFillTheControls_data();
    void storedOptionsFillTheControls();
    void encryptCheckboxEnablesThePasswordField();
    void randomButtonFillsEvenADisabledField();
    void dropOfItemsFromTwoFoldersStartsOneJob();
    void dropKeepsTheBytesOfEveryName_data();
    void dropKeepsTheBytesOfEveryName();
    void dropUsesTheControlsNotTheStoredOptions();
    void dropWithoutFileUrlsStartsNothing_data();
    void dropWithoutFileUrlsStartsNothing();
    void picturesFollowTheDrag();
    void cancelledFolderChooserChangesNothing();
    void optionsAreWrittenOnCloseAndReadAtTheNextStart();
    void optionsAreWrittenOncePerDisappearance();
    void closingWhileAJobRunsAsksFirst_data();
    void closingWhileAJobRunsAsksFirst();
    void jobsEndingOutOfSightAreNotified_data();
    void jobsEndingOutOfSightAreNotified();
    void jobsEndingInFrontAreNotNotified();
    void loadingStartsTheUpdateCheck();
    void layoutIsTidyAtEverySize_data();
    void layoutIsTidyAtEverySize();
    void everyControlIsNamedAndReachedInOrder();

private:
    struct Window {
        RecordingZipAction::Made made;
        JobQueue jobs{RecordingZipAction::factory(made)};
        RecordingFolderOpener opener;
        RecordingNotifier notifier;
        ScriptedQuitConfirmation quit;
        std::unique_ptr<ViewController> view;

        Window()
        {
            ViewServices services;
            services.folderOpener = &opener;
            services.notifier = &notifier;
            services.quitConfirmation = &quit;
            view = std::make_unique<ViewController>(jobs, services);
        }
        ~Window()
        {
            view.reset();
            for (const QPointer<RecordingZipAction>& job : made)
                delete job.data();
        }
        RecordingZipAction* job(size_t index) const { return index < made.size() ? made[index].data() : nullptr; }
    };

    void drop(ViewController& view, const QList<QByteArray>& paths);

    QTemporaryDir m_items;
};

void TestViewController::initTestCase()
{
    // Never the user's own options: CTest points HOME at the build tree.
    QVERIFY2(qEnvironmentVariable("HOME").contains(QStringLiteral("ui-home")),
             "run through ctest, which sets a private HOME");
    QVERIFY(m_items.isValid());
}

void TestViewController::init()
{
    // Each test starts from nothing stored, like a first run.
    removeStoredOptions();
}

void TestViewController::drop(ViewController& view, const QList<QByteArray>& paths)
{
    QMimeData data;
    data.setUrls(DragSimulation::fileUrls(paths));
    QWidget* target = view.fileDragDropTopLayerView;
    QVERIFY(DragSimulation::enter(target, &data).accepted);
    QVERIFY(DragSimulation::move(target, &data).accepted);
    QVERIFY(DragSimulation::drop(target, &data).accepted);
}

void TestViewController::firstRunShowsTheLayoutAsMade()
{
    QCOMPARE(Util::loadSettingStatus(), SettingStatus());
    Window window;
    ViewController& view = *window.view;
    QVERIFY(!view.encryptCheckBox->isChecked());
    QVERIFY(!view.selectDirCheckBox->isChecked());
    QCOMPARE(view.passwordTextField->text(), QString());
    QVERIFY(!view.passwordTextField->isEnabled());
    QCOMPARE(view.imageView->imageName(), QStringLiteral("drop"));
    QCOMPARE(view.fileDragDropTopLayerView->delegate(), static_cast<DragAndDropDelegate*>(&view));
    // Loading reads; it never writes.
    QVERIFY(!QFile::exists(QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere")).fileName()));
}

void TestViewController::storedOptionsFillTheControls_data()
{
    QTest::addColumn<SettingStatus>("stored");
    QTest::newRow("encryption off, password kept") << SettingStatus{false, "secret", false};
    QTest::newRow("encryption on, no password, chooser on") << SettingStatus{true, "", true};
    QTest::newRow("everything on") << SettingStatus{true, "pass word", true};
    QTest::newRow("non-ASCII password") << SettingStatus{true, "パスワード", false};
}

void TestViewController::storedOptionsFillTheControls()
{
    QFETCH(SettingStatus, stored);
    QVERIFY(Util::saveSettingStatus(stored));
    Window window;
    ViewController& view = *window.view;
    QCOMPARE(view.encryptCheckBox->isChecked(), stored.isEncrypt);
    QCOMPARE(view.passwordTextField->text().toStdString(), stored.password);
    QCOMPARE(view.passwordTextField->isEnabled(), stored.isEncrypt);
    QCOMPARE(view.selectDirCheckBox->isChecked(), stored.isSelectDir);
    QCOMPARE(view.currentSettingStatus(), stored);
}

void TestViewController::encryptCheckboxEnablesThePasswordField()
{
    QVERIFY(Util::saveSettingStatus({false, "secret", false}));
    Window window;
    ViewController& view = *window.view;
    view.show();

    click(view.encryptCheckBox);
    QVERIFY(view.passwordTextField->isEnabled());
    QCOMPARE(view.passwordTextField->text(), QStringLiteral("secret"));

    click(view.encryptCheckBox);
    QVERIFY(!view.passwordTextField->isEnabled());
    QCOMPARE(view.passwordTextField->text(), QStringLiteral("secret"));

    // Only a button can switch the field.
    view.encryptCheckBox->setChecked(true);
    view.onEncryptClick(view.passwordTextField);
    QVERIFY(!view.passwordTextField->isEnabled());
    view.onEncryptClick(view.encryptCheckBox);
    QVERIFY(view.passwordTextField->isEnabled());

    // Clicks are not saved: only a disappearance writes.
    QCOMPARE(Util::loadSettingStatus(), (SettingStatus{false, "secret", false}));
}

void TestViewController::randomButtonFillsEvenADisabledField()
{
    Window window;
    ViewController& view = *window.view;
    view.show();
    QVERIFY(!view.passwordTextField->isEnabled());

    QTest::mouseClick(view.randomButton, Qt::LeftButton);
    const QString first = view.passwordTextField->text();
    QVERIFY2(QRegularExpression(QStringLiteral("^[a-z0-9]{16}$")).match(first).hasMatch(), qPrintable(first));
    QVERIFY(!view.passwordTextField->isEnabled());
    QVERIFY(!view.encryptCheckBox->isChecked());

    QTest::mouseClick(view.randomButton, Qt::LeftButton);
    QVERIFY(view.passwordTextField->text() != first);

    // The job gets the password with encryption off, and ignores it.
    drop(view, {bytes(m_items.filePath("a.txt"))});
    QVERIFY(window.job(0));
    const RecordingZipAction::Call call = window.job(0)->calls().at(0);
    QCOMPARE(call.password, view.passwordTextField->text().toStdString());
    QVERIFY(!call.isEncrypt);
}

void TestViewController::dropOfItemsFromTwoFoldersStartsOneJob()
{
    QVERIFY(QDir(m_items.path()).mkpath("first") && QDir(m_items.path()).mkpath("second/sub"));
    const QByteArray first = bytes(m_items.filePath("first"));
    const QByteArray second = bytes(m_items.filePath("second"));
    // Only the first item is in the first folder: the others must not move
    // the destination.
    const QList<QByteArray> paths{first + "/one.txt", second + "/two.txt", second + "/sub"};
    Window window;
    ViewController& view = *window.view;

    LogCapture log;
    drop(view, paths);
    QCOMPARE(log.take(), QByteArray("on drag before drop\non drag before drop\n"));

    QCOMPARE(window.made.size(), size_t(1));
    QCOMPARE(window.job(0)->calls().size(), size_t(1));
    const RecordingZipAction::Call call = window.job(0)->calls().at(0);
    QVERIFY(!call.selectDir);
    QCOMPARE(call.paths, (std::vector<std::string>{paths[0].toStdString(), paths[1].toStdString(),
                                                   paths[2].toStdString()}));
    QCOMPARE(call.destDir, first.toStdString());
    QCOMPARE(view.imageView->imageName(), QStringLiteral("drop"));
}

void TestViewController::dropKeepsTheBytesOfEveryName_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("folder");
    QTest::newRow("plain") << QByteArray("/data/a.txt") << QByteArray("/data");
    QTest::newRow("space, percent, hash, question mark")
        << QByteArray("/data/a b%20#1?.txt") << QByteArray("/data");
    QTest::newRow("Japanese") << QByteArray("/データ/資料 ソ表.txt") << QByteArray("/データ");
    QTest::newRow("not UTF-8") << QByteArray("/data/\x82\xa0\xff.txt") << QByteArray("/data");
    QTest::newRow("item at the root") << QByteArray("/top") << QByteArray("/");
}

void TestViewController::dropKeepsTheBytesOfEveryName()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, folder);
    Window window;
    drop(*window.view, {path});
    QVERIFY(window.job(0));
    const RecordingZipAction::Call call = window.job(0)->calls().at(0);
    QCOMPARE(QByteArray::fromStdString(call.paths.at(0)), path);
    QCOMPARE(QByteArray::fromStdString(call.destDir), folder);
}

void TestViewController::dropUsesTheControlsNotTheStoredOptions()
{
    QVERIFY(Util::saveSettingStatus({false, "stored", false}));
    Window window;
    ViewController& view = *window.view;
    view.show();
    click(view.encryptCheckBox);
    click(view.selectDirCheckBox);
    view.passwordTextField->selectAll();
    QTest::keyClicks(view.passwordTextField, QStringLiteral("typed"));

    drop(view, {bytes(m_items.filePath("a.txt"))});
    QVERIFY(window.job(0));
    const RecordingZipAction::Call call = window.job(0)->calls().at(0);
    QVERIFY(call.selectDir);
    QVERIFY(call.isEncrypt);
    QCOMPARE(call.password, std::string("typed"));
    QCOMPARE(Util::loadSettingStatus(), (SettingStatus{false, "stored", false}));
}

void TestViewController::dropWithoutFileUrlsStartsNothing_data()
{
    QTest::addColumn<bool>("withUrls");
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QByteArray>("expectedLog");
    QTest::newRow("no url list") << false << QList<QUrl>() << QByteArray("dropped files do not exist.\n");
    QTest::newRow("a web address among files")
        << true << QList<QUrl>({QUrl::fromLocalFile("/tmp/a.txt"), QUrl("https://example.org/b")})
        << QByteArray("dropped files do not exist.\n");
    QTest::newRow("empty url list") << true << QList<QUrl>() << QByteArray();
}

void TestViewController::dropWithoutFileUrlsStartsNothing()
{
    QFETCH(bool, withUrls);
    QFETCH(QList<QUrl>, urls);
    QFETCH(QByteArray, expectedLog);
    Window window;
    ViewController& view = *window.view;
    view.onDragBeforeDrop();
    QMimeData data;
    data.setText(QStringLiteral("/tmp/a.txt"));
    if (withUrls)
        data.setUrls(urls);

    LogCapture log;
    view.onDrop(&data);
    QCOMPARE(log.take(), expectedLog);
    QVERIFY(window.made.empty());
    QVERIFY(!window.jobs.isBusy());
    QCOMPARE(view.imageView->imageName(), QStringLiteral("drop"));
}

void TestViewController::picturesFollowTheDrag()
{
    Window window;
    ViewController& view = *window.view;
    QMimeData data;
    data.setUrls(DragSimulation::fileUrls({bytes(m_items.filePath("a.txt"))}));
    QWidget* target = view.fileDragDropTopLayerView;

    LogCapture log;
    DragSimulation::enter(target, &data);
    QCOMPARE(view.imageView->imageName(), QStringLiteral("drop_active"));
    DragSimulation::move(target, &data);
    QCOMPARE(view.imageView->imageName(), QStringLiteral("drop_active"));
    DragSimulation::leave(target);
    QCOMPARE(view.imageView->imageName(), QStringLiteral("drop"));
    QCOMPARE(log.take(), QByteArray("on drag before drop\non drag before drop\noff drag before drop\n"));

    DragSimulation::enter(target, &data);
    QCOMPARE(view.imageView->imageName(), QStringLiteral("drop_active"));
    DragSimulation::drop(target, &data);
    QCOMPARE(view.imageView->imageName(), QStringLiteral("drop"));
    QVERIFY(window.made.size() == 1);
}

void TestViewController::cancelledFolderChooserChangesNothing()
{
    // A real job with a chooser that the test answers: cancelling must make
    // nothing, on disk or in the window.
    PendingFolderChooser chooser;
    JobQueue jobs(&chooser);
    RecordingNotifier notifier;
    ViewServices services;
    services.notifier = &notifier;
    ViewController view(jobs, services);
    view.show();
    click(view.selectDirCheckBox);
    QFile item(m_items.filePath("kept.txt"));
    QVERIFY(item.open(QIODevice::WriteOnly));
    item.close();

    drop(view, {bytes(item.fileName())});
    QCOMPARE(chooser.asked, 1);
    QVERIFY(jobs.isBusy());
    QCOMPARE(view.jobStatusView->phaseLabel->text(), QStringLiteral("保存先を選択しています…"));

    chooser.pending(false, {});
    QVERIFY(!jobs.isBusy());
    QCOMPARE(view.jobStatusView->phaseLabel->text(), QStringLiteral("準備完了"));
    QVERIFY(view.jobStatusView->resultLabel->isHidden());
    QVERIFY(view.jobStatusView->openFolderButton->isHidden());
    QVERIFY(notifier.shown.isEmpty());
    QVERIFY(view.selectDirCheckBox->isChecked());
    QCOMPARE(view.imageView->imageName(), QStringLiteral("drop"));
    QVERIFY(!QFile::exists(QDir::home().filePath(".quillmere")));
    QCOMPARE(QDir(m_items.path()).entryList(QDir::Files), QStringList({"kept.txt"}));
}

void TestViewController::optionsAreWrittenOnCloseAndReadAtTheNextStart()
{
    {
        Window window;
        ViewController& view = *window.view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        click(view.encryptCheckBox);
        QTest::keyClicks(view.passwordTextField, QStringLiteral("hunter2"));
        click(view.selectDirCheckBox);
        QCOMPARE(Util::loadSettingStatus(), SettingStatus());
        QVERIFY(view.close());
        QCOMPARE(window.quit.asked, 0);
    }
    QCOMPARE(Util::loadSettingStatus(), (SettingStatus{true, "hunter2", true}));

    Window next;
    QVERIFY(next.view->encryptCheckBox->isChecked());
    QVERIFY(next.view->passwordTextField->isEnabled());
    QCOMPARE(next.view->passwordTextField->text(), QStringLiteral("hunter2"));
    QVERIFY(next.view->selectDirCheckBox->isChecked());
}

void TestViewController::optionsAreWrittenOncePerDisappearance()
{
    Window window;
    ViewController& view = *window.view;
    view.encryptCheckBox->setChecked(true);
    view.show();
    view.hide();
    QCOMPARE(Util::loadSettingStatus(), (SettingStatus{true, "", false}));

    // Each showing ends in its own save, with what the controls show then.
    view.selectDirCheckBox->setChecked(true);
    view.show();
    view.close();
    QCOMPARE(Util::loadSettingStatus(), (SettingStatus{true, "", true}));
}

void TestViewController::closingWhileAJobRunsAsksFirst_data()
{
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("asked");
    QTest::addColumn<bool>("closed");
    QTest::newRow("idle: closes without asking") << false << false << 0 << true;
    QTest::newRow("busy, user stays") << true << false << 1 << false;
    QTest::newRow("busy, user quits") << true << true << 1 << true;
}

void TestViewController::closingWhileAJobRunsAsksFirst()
{
    QFETCH(bool, busy);
    QFETCH(bool, answer);
    QFETCH(int, asked);
    QFETCH(bool, closed);
    Window window;
    ViewController& view = *window.view;
    window.quit.answer = answer;
    QSignalSpy quitConfirmed(&view, &ViewController::quitConfirmed);
    view.show();
    view.encryptCheckBox->setChecked(true);
    if (busy)
        drop(view, {bytes(m_items.filePath("a.txt"))});
    QCOMPARE(window.jobs.isBusy(), busy);

    QCOMPARE(view.close(), closed);
    QCOMPARE(window.quit.asked, asked);
    QCOMPARE(view.isVisible(), !closed);
    QCOMPARE(quitConfirmed.count(), busy && answer ? 1 : 0);
    // A refused close is no disappearance: nothing is written.
    QCOMPARE(Util::loadSettingStatus().isEncrypt, closed);
}

void TestViewController::jobsEndingOutOfSightAreNotified_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("delivered")
        << int(JobOutcome::Kind::Delivered) << QStringList({"Quillmere: 作成しました: archive2.zip"});
    QTest::newRow("failed") << int(JobOutcome::Kind::Failed)
                            << QStringList({"Quillmere: アーカイブを作成できませんでした（exit status 1）"});
    QTest::newRow("cancelled") << int(JobOutcome::Kind::Cancelled) << QStringList();
}

void TestViewController::jobsEndingOutOfSightAreNotified()
{
    QFETCH(int, kind);
    QFETCH(QStringList, expected);
    Window window;
    // Files opened from the file manager while the window is not shown.
    window.jobs.enqueue({"/data/a.txt"}, "/data", SettingStatus());
    QVERIFY(window.job(0));
    const JobOutcome outcomes[] = {JobOutcome::delivered("/data/archive2.zip", false),
                                   JobOutcome::failed(JobPhase::Writing, "exit status 1"),
                                   JobOutcome::cancelled()};
    window.job(0)->finishWith(outcomes[kind]);
    QCOMPARE(window.notifier.shown, expected);
}

void TestViewController::jobsEndingInFrontAreNotNotified()
{
    Window window;
    ViewController& view = *window.view;
    view.show();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    window.jobs.enqueue({"/data/a.txt"}, "/data", SettingStatus());
    window.job(0)->finishWith(JobOutcome::delivered("/data/archive.zip", true));
    QVERIFY(window.notifier.shown.isEmpty());
    QCOMPARE(view.jobStatusView->resultLabel->text(), QStringLiteral("作成しました: archive.zip（暗号化済み）"));
}

void TestViewController::loadingStartsTheUpdateCheck()
{
    // A port that was just free answers nothing: the check ends on its own.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();

    QNetworkAccessManager network;
    DecliningUpdateNotice notice;
    RecordingUrlOpener opener;
    UpdateCheck check(network, notice, opener, QUrl(QStringLiteral("http://127.0.0.1:%1/appinfo").arg(closedPort)),
                      QStringLiteral("1"));
    QSignalSpy finished(&check, &UpdateCheck::finished);

    RecordingZipAction::Made made;
    JobQueue jobs(RecordingZipAction::factory(made));
    RecordingNotifier notifier;
    ViewServices services;
    services.updateCheck = &check;
    services.notifier = &notifier;
    LogCapture log; // the failed check writes its line
    ViewController view(jobs, services);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(notice.shown, 0);
    QVERIFY(opener.opened.isEmpty());
}

void TestViewController::layoutIsTidyAtEverySize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("as opened") << QSize();
    QTest::newRow("smallest") << QSize(1, 1);
    QTest::newRow("large") << QSize(1400, 1000);
}

void TestViewController::layoutIsTidyAtEverySize()
{
    QFETCH(QSize, size);
    QVERIFY(Util::saveSettingStatus({true, "a long password for the field", true}));
    Window window;
    ViewController& view = *window.view;
    view.show();
    if (size.isValid())
        view.resize(size);
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

    const QList<QWidget*> controls{view.imageView, view.encryptCheckBox, view.passwordTextField,
                                   view.randomButton, view.selectDirCheckBox, view.jobStatusView};
    QList<QRect> placed;
    for (QWidget* control : controls) {
        const QRect rect(control->mapTo(&view, QPoint(0, 0)), control->size());
        QVERIFY2(view.rect().contains(rect), control->metaObject()->className());
        QVERIFY2(control->width() >= control->minimumSizeHint().width(), control->metaObject()->className());
        for (const QRect& other : placed)
            QVERIFY2(!rect.intersects(other), control->metaObject()->className());
        placed << rect;
    }
    // The drop picture keeps a useful size.
    QVERIFY(view.imageView->width() >= 200 && view.imageView->height() >= 120);
    // The drop layer covers the picture exactly.
    QCOMPARE(view.fileDragDropTopLayerView->geometry(), view.imageView->geometry());
}

void TestViewController::everyControlIsNamedAndReachedInOrder()
{
    QVERIFY(Util::saveSettingStatus({true, "", false}));
    Window window;
    ViewController& view = *window.view;
    const QList<QWidget*> ordered{view.encryptCheckBox, view.passwordTextField, view.randomButton,
                                  view.selectDirCheckBox, view.jobStatusView->openFolderButton};
    for (QWidget* control : ordered)
        QVERIFY2(!control->accessibleName().isEmpty(), control->metaObject()->className());
    for (QWidget* shown : {static_cast<QWidget*>(view.imageView), static_cast<QWidget*>(view.fileDragDropTopLayerView),
                           static_cast<QWidget*>(view.jobStatusView->phaseLabel),
                           static_cast<QWidget*>(view.jobStatusView->resultLabel)}) {
        QVERIFY2(!shown->accessibleName().isEmpty(), shown->metaObject()->className());
        QCOMPARE(shown->focusPolicy() & Qt::TabFocus, 0);
    }

    QList<QWidget*> reached;
    for (QWidget* widget = view.encryptCheckBox; reached.size() < ordered.size();
         widget = widget->nextInFocusChain()) {
        if (ordered.contains(widget))
            reached << widget;
        if (widget->nextInFocusChain() == view.encryptCheckBox)
            break;
    }
    QCOMPARE(reached, ordered);
}

QTEST_MAIN(TestViewController)
#include "tst_ViewController.moc"
