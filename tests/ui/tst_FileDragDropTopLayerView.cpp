// The drop target on its own: which drags it takes, what it answers, and the
// notices and log lines it gives for each step of a drag.
#include "DragAndDropDelegate.h"
#include "DragSimulation.h"
#include "FileDragDropTopLayerView.h"
#include "LogCapture.h"

#include <QMimeData>
#include <QTest>

namespace {

class RecordingDelegate : public DragAndDropDelegate {
public:
    void onDrop(const QMimeData* data) override
    {
        notices << QStringLiteral("drop");
        dropped = data;
    }
    void onDragBeforeDrop() override { notices << QStringLiteral("before"); }
    void offDragBeforeDrop() override { notices << QStringLiteral("off"); }

    QStringList notices;
    const QMimeData* dropped = nullptr;
};

std::unique_ptr<QMimeData> filesData()
{
    auto data = std::make_unique<QMimeData>();
    data->setUrls(DragSimulation::fileUrls({"/tmp/a.txt", "/tmp/b"}));
    return data;
}

} // namespace

class TestFileDragDropTopLayerView : public QObject {
    Q_OBJECT
private slots:
    void dragThatLeavesSendsBeforeForEachUpdateThenOff();
    void dropHandsOverTheVeryDataWithoutOff();
    void dropIsACopyWhateverTheSourceProposes();
    void withoutDelegateDragsAreStillTakenAndLogged();
    void dragsWithoutLocalFilesAreRefused_data();
    void dragsWithoutLocalFilesAreRefused();
};

void TestFileDragDropTopLayerView::dragThatLeavesSendsBeforeForEachUpdateThenOff()
{
    FileDragDropTopLayerView view;
    RecordingDelegate delegate;
    view.setDelegate(&delegate);
    const auto data = filesData();

    LogCapture log;
    DragSimulation::enter(&view, data.get());
    DragSimulation::move(&view, data.get());
    DragSimulation::move(&view, data.get());
    DragSimulation::leave(&view);

    QCOMPARE(log.take(), QByteArray("on drag before drop\non drag before drop\non drag before drop\n"
                                    "off drag before drop\n"));
    QCOMPARE(delegate.notices, QStringList({"before", "before", "before", "off"}));
}

void TestFileDragDropTopLayerView::dropHandsOverTheVeryDataWithoutOff()
{
    FileDragDropTopLayerView view;
    RecordingDelegate delegate;
    view.setDelegate(&delegate);
    const auto data = filesData();

    LogCapture log;
    DragSimulation::enter(&view, data.get());
    const DragSimulation::Answer answer = DragSimulation::drop(&view, data.get());

    QCOMPARE(log.take(), QByteArray("on drag before drop\n"));
    QVERIFY(answer.accepted);
    QCOMPARE(delegate.notices, QStringList({"before", "drop"}));
    QCOMPARE(delegate.dropped, data.get());
}

void TestFileDragDropTopLayerView::dropIsACopyWhateverTheSourceProposes()
{
    FileDragDropTopLayerView view;
    const auto data = filesData();
    const DragSimulation::Answer entered = DragSimulation::enter(&view, data.get());
    const DragSimulation::Answer moved = DragSimulation::move(&view, data.get());
    const DragSimulation::Answer dropped = DragSimulation::drop(&view, data.get());
    for (const DragSimulation::Answer& answer : {entered, moved, dropped}) {
        QVERIFY(answer.accepted);
        QCOMPARE(answer.action, Qt::CopyAction);
    }
}

void TestFileDragDropTopLayerView::withoutDelegateDragsAreStillTakenAndLogged()
{
    FileDragDropTopLayerView view;
    QCOMPARE(view.delegate(), nullptr);
    const auto data = filesData();

    LogCapture log;
    QVERIFY(DragSimulation::enter(&view, data.get()).accepted);
    DragSimulation::leave(&view);
    QVERIFY(DragSimulation::enter(&view, data.get()).accepted);
    QVERIFY(DragSimulation::drop(&view, data.get()).accepted);
    QCOMPARE(log.take(), QByteArray("on drag before drop\noff drag before drop\non drag before drop\n"));
}

void TestFileDragDropTopLayerView::dragsWithoutLocalFilesAreRefused_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QString>("text");
    QTest::newRow("text only") << QList<QUrl>() << QStringLiteral("/tmp/a.txt");
    QTest::newRow("web address") << QList<QUrl>({QUrl("https://example.org/a.txt")}) << QString();
    QTest::newRow("a file and a web address")
        << QList<QUrl>({QUrl::fromLocalFile("/tmp/a.txt"), QUrl("https://example.org/b.txt")}) << QString();
    QTest::newRow("empty url list") << QList<QUrl>() << QString();
}

void TestFileDragDropTopLayerView::dragsWithoutLocalFilesAreRefused()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, text);
    FileDragDropTopLayerView view;
    RecordingDelegate delegate;
    view.setDelegate(&delegate);
    QMimeData data;
    if (!urls.isEmpty() || text.isEmpty())
        data.setUrls(urls);
    if (!text.isEmpty())
        data.setText(text);

    LogCapture log;
    QVERIFY(!DragSimulation::enter(&view, &data).accepted);
    QVERIFY(!DragSimulation::move(&view, &data).accepted);
    // Qt still sends a leave for the refused drag; it has nothing to undo.
    DragSimulation::leave(&view);
    QVERIFY(!DragSimulation::drop(&view, &data).accepted);
    QCOMPARE(log.take(), QByteArray());
    QVERIFY(delegate.notices.isEmpty());
}

QTEST_MAIN(TestFileDragDropTopLayerView)
#include "tst_FileDragDropTopLayerView.moc"
