// The window on a small screen and at 200 % scaling: it fits the screen,
// what does not fit scrolls into view, and no text is cut. The screen is an
// offscreen one of the size QUILLMERE_TEST_SCREEN (logical pixels times
// QUILLMERE_TEST_SCALE), so that every run sees the same screen.
#include "DialogFolderChooser.h"
#include "ItemChooser.h"
#include "StandInJob.h"
#include "TestHome.h"
#include "WindowLayout.h"
#include "WrapPoints.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QScrollBar>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

#include <cmath>

namespace {

QSize screenSize()
{
    const QList<QByteArray> size = qgetenv("QUILLMERE_TEST_SCREEN").split('x');
    return size.size() == 2 ? QSize(size[0].toInt(), size[1].toInt()) : QSize(1920, 1080);
}

double scale()
{
    bool ok = false;
    const double factor = qEnvironmentVariable("QUILLMERE_TEST_SCALE").toDouble(&ok);
    return ok ? factor : 2.0;
}

// What in the window the user reads or works: every control and every
// label with something to say.
QList<QWidget*> readable(QWidget* window)
{
    QList<QWidget*> widgets;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window))
            continue;
        auto* label = qobject_cast<QLabel*>(widget);
        if ((label && !label->text().isEmpty()) || qobject_cast<QAbstractButton*>(widget)
            || qobject_cast<QLineEdit*>(widget))
            widgets << widget;
    }
    return widgets;
}

// Whether all of widget is in the part of view's content that shows.
bool inView(const ViewController& view, QWidget* widget)
{
    const QWidget* viewport = view.scrollArea->viewport();
    return viewport->rect().contains(QRect(widget->mapTo(viewport, QPoint(0, 0)), widget->size()));
}

// Why widget shows less than all its text, or nothing when it shows it all.
QString cut(QWidget* widget)
{
    const QString name = widget->metaObject()->className() + QStringLiteral(" ") + widget->accessibleName();
    auto* label = qobject_cast<QLabel*>(widget);
    if (label && label->wordWrap()) {
        if (widget->height() < label->heightForWidth(widget->width()))
            return name + QStringLiteral(": lines cut off");
        return {};
    }
    if (label || qobject_cast<QAbstractButton*>(widget)) {
        if (widget->width() < widget->sizeHint().width() || widget->height() < widget->minimumSizeHint().height())
            return name + QStringLiteral(": narrower than its text");
    }
    return {};
}

} // namespace

class TestWindowScale : public QObject {
    Q_OBJECT
    TestHome m_home;

private slots:
    void init() { QFile::remove(QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere")).fileName()); }

    void theScreenIsTheOneAskedFor()
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        QCOMPARE(screen->geometry().size(), screenSize() / scale());
    }

    void everythingFitsOrScrollsIntoView_data()
    {
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("archive");
        const QString archive = QStringLiteral("/data/お客様/見積書フォルダ/archive.zip");
        QTest::newRow("idle") << false << false << archive;
        QTest::newRow("password notes") << true << false << archive;
        QTest::newRow("result with details") << true << true << archive;
        QTest::newRow("result named after a long item")
            << false << true
            << QStringLiteral("/data/") + QStringLiteral("Quarterly_Report_Final_Version_").repeated(6)
                   + QStringLiteral(".txt.zip");
    }
    void everythingFitsOrScrollsIntoView()
    {
        QFETCH(bool, encrypt);
        QFETCH(bool, result);
        QFETCH(QString, archive);
        StandInWindow w;
        ViewController& view = w.view;
        if (encrypt) {
            view.encryptCheckBox->click();
            view.passwordTextField->setText(QStringLiteral("パスワード表"));
        }
        if (result) {
            JobReport report;
            report.fileCount = 5;
            report.renamed = {{"a:b.txt", "a_b.txt", true}, {"見積*.txt", "見積_.txt", true}};
            view.jobStatusView->showOutcome(JobOutcome::delivered(archive.toStdString(), encrypt, report),
                                            PasswordRule::Problem::None);
            view.jobStatusView->detailsButton->click();
        }
        QVERIFY(w.shown());
        const QRect screen = view.screen()->availableGeometry();
        const QRect frame = view.frameGeometry();
        QVERIFY2(screen.contains(frame), qPrintable(QStringLiteral("frame %1,%2 %3x%4")
                                                        .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())));

        QStringList unreachable, cutOff;
        const QList<QWidget*> widgets = readable(&view);
        QVERIFY(widgets.size() > 10);
        for (QWidget* widget : widgets) {
            view.scrollArea->ensureWidgetVisible(widget, 0, 0);
            QCoreApplication::processEvents();
            if (!inView(view, widget))
                unreachable << widget->metaObject()->className() + QStringLiteral(" ") + widget->accessibleName();
            if (const QString why = cut(widget); !why.isEmpty())
                cutOff << why;
        }
        QCOMPARE(unreachable, QStringList());
        QCOMPARE(cutOff, QStringList());
        // Up and down only: nothing is wider than the window.
        QVERIFY(!view.scrollArea->horizontalScrollBar()->isVisible());
    }

    void theChoosersFitTheScreen_data()
    {
        QTest::addColumn<QString>("chooser");
        QTest::newRow("files to archive") << "fileChooser";
        QTest::newRow("a folder to archive") << "folderItemChooser";
        QTest::newRow("the destination") << "folderChooser";
    }
    // Qt's file dialog opens at its own size: on a screen of 400 logical
    // pixels its buttons would lie below the edge.
    void theChoosersFitTheScreen()
    {
        QFETCH(QString, chooser);
        StandInWindow w;
        QVERIFY(w.shown());
        DialogFolderChooser destination(&w.view);
        if (chooser == "fileChooser")
            ItemChooser::chooseFiles(&w.view, {}, [](const std::vector<std::string>&) {});
        else if (chooser == "folderItemChooser")
            ItemChooser::chooseFolder(&w.view, {}, [](const std::vector<std::string>&) {});
        else
            destination.chooseFolderIn({}, [](bool, const std::string&) {});
        QFileDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = w.view.findChild<QFileDialog*>(chooser)) && dialog->isVisible());
        const QSize room = WindowLayout::roomOn(dialog->screen());
        QVERIFY2(dialog->width() <= room.width() && dialog->height() <= room.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(dialog->width()).arg(dialog->height())));
        dialog->reject();
    }

    // Notes and the waiting list that appear later grow the window as far
    // as the screen has room, rather than hide below a scroll bar; the
    // window does not shrink when they go.
    void theWindowGrowsWithItsContent()
    {
        StandInWindow w;
        ViewController& view = w.view;
        QVERIFY(w.shown());
        QScrollBar* upAndDown = view.scrollArea->verticalScrollBar();
        const int before = view.height();
        QWidget* content = view.scrollArea->widget();
        const int contentBefore = content->height();
        view.encryptCheckBox->click();
        view.passwordTextField->setText(QStringLiteral("パスワード表"));
        for (const char* item : {"a", "b", "c"})
            w.start(item);
        const int room = WindowLayout::roomOn(view.screen()).height();
        QTRY_VERIFY(content->height() > contentBefore);
        QTRY_VERIFY2(!upAndDown->isVisible() || view.height() >= room,
                     qPrintable(QStringLiteral("%1 high, %2 of room").arg(view.height()).arg(room)));
        QVERIFY(view.height() > before || before >= room);
        const int grown = view.height();
        view.encryptCheckBox->click();
        QCoreApplication::processEvents();
        QCOMPARE(view.height(), grown);
    }

    // The break points are only for showing: the headline copied, or
    // selected, is the archive's name as it is.
    void aCopiedHeadlineHoldsNoBreakPoints()
    {
        StandInWindow w;
        const std::string name = "Quarterly_Report_Final_Version_2026_for_the_board.zip";
        w.status.showOutcome(JobOutcome::delivered("/data/" + name, false), PasswordRule::Problem::None);
        QVERIFY(w.shown());
        QLabel* headline = w.status.headlineLabel;
        QVERIFY(headline->text().contains(QChar(0x200B)));
        headline->setFocus();
        headline->setSelection(0, int(headline->text().size()));
        QVERIFY(headline->hasSelectedText());
        QTest::keySequence(headline, QKeySequence::Copy);
        QTRY_VERIFY(QGuiApplication::clipboard()->text().contains(QString::fromStdString(name)));
        QVERIFY(!QGuiApplication::clipboard()->text().contains(QChar(0x200B)));
    }

    void wrapPointsGoOnlyIntoLongWords_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("changed");
        QTest::newRow("short name") << QStringLiteral("archive.zip を作成しました") << false;
        QTest::newRow("Japanese sentence")
            << QStringLiteral("保存先のフォルダに書き込めないため、アーカイブを移動できませんでした。") << false;
        QTest::newRow("long name") << QStringLiteral("Quarterly_Report_Final_Version_").repeated(3) + ".zip を作成しました"
                                   << true;
        QTest::newRow("long word without marks") << QStringLiteral("x").repeated(80) << true;
        QTest::newRow("emoji, which break by themselves")
            << QStringLiteral("a").repeated(20) + QStringLiteral("😀").repeated(10) << false;
    }
    // Break points go only into words too long for a line, never inside a
    // character, and take nothing away.
    void wrapPointsGoOnlyIntoLongWords()
    {
        QFETCH(QString, text);
        QFETCH(bool, changed);
        const QString shown = WrapPoints::added(text);
        QCOMPARE(QString(shown).remove(QChar(0x200B)), text);
        QCOMPARE(shown != text, changed);
        // What is left between break points, spaces and Japanese characters
        // fits a short line.
        static const QRegularExpression word(QStringLiteral("[^\\s\\x{200B}\\x{2E80}-\\x{10FFFF}]+"));
        for (const QRegularExpressionMatch& match : word.globalMatch(shown))
            QVERIFY2(match.capturedLength() <= 24, qPrintable(match.captured()));
        for (const QString& piece : shown.split(QChar(0x200B)))
            QVERIFY(!piece.isEmpty() && !piece.back().isHighSurrogate() && !piece.front().isLowSurrogate());
    }

    // Tab reaches every control, the one with the focus is in view, and it
    // looks different while it has the focus.
    void tabBringsEachControlIntoView()
    {
        StandInWindow w;
        ViewController& view = w.view;
        view.encryptCheckBox->click();
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.chooseFilesButton->setFocus();
        // Focus is drawn once the keyboard has moved it.
        QTest::keyClick(view.chooseFilesButton, Qt::Key_Backtab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), view.chooseFilesButton);
        QStringList hidden, unmarked;
        QList<QWidget*> visited;
        for (int step = 0; step < 40 && !visited.contains(QApplication::focusWidget()); ++step) {
            QWidget* focused = QApplication::focusWidget();
            visited << focused;
            if (!inView(view, focused))
                hidden << focused->accessibleName();
            const QImage withFocus = focused->grab().toImage();
            QTest::keyClick(focused, Qt::Key_Tab);
            if (focused->grab().toImage() == withFocus)
                unmarked << focused->accessibleName();
        }
        QCOMPARE(hidden, QStringList());
        QVERIFY2(unmarked.isEmpty(), qPrintable(unmarked.join(", ")));
        QVERIFY(visited.contains(view.nameAfterItemsCheckBox));
        QVERIFY(visited.contains(view.aboutButton));
        QVERIFY(!visited.contains(view.scrollArea));
    }

    void everyLabelHasTheContrastTextNeeds_data()
    {
        QTest::addColumn<QString>("dark"); // when a dark palette is chosen
        QTest::newRow("the light palette") << QString();
        QTest::newRow("a dark one") << "before";
        QTest::newRow("a dark one chosen while the window is open") << "while open";
    }
    // Every label's text reads against the window: at least 4.5:1, the
    // contrast text needs, also for the quieter notes and the warnings.
    void everyLabelHasTheContrastTextNeeds()
    {
        QFETCH(QString, dark);
        const QPalette light = QApplication::palette();
        const auto restore = qScopeGuard([&] { QApplication::setPalette(light); });
        QPalette darkPalette = light;
        darkPalette.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
        darkPalette.setColor(QPalette::WindowText, Qt::white);
        if (dark == "before")
            QApplication::setPalette(darkPalette);
        StandInWindow w;
        ViewController& view = w.view;
        // A warning and a failure on show.
        view.encryptCheckBox->click();
        view.passwordTextField->setText(QStringLiteral("パスワード"));
        view.jobStatusView->showOutcome(JobOutcome::failed(JobPhase::Writing, "php failed"), PasswordRule::Problem::None);
        if (dark == "while open") {
            QApplication::setPalette(darkPalette);
            QCoreApplication::processEvents();
        }
        const auto luminance = [](const QColor& color) {
            const auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
            return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
        };
        const QColor window = view.palette().color(QPalette::Window);
        QCOMPARE(window.lightness() < 128, !dark.isEmpty());
        const double background = luminance(window);
        // A colour with alpha shows as much of the window through it.
        const auto shown = [&](const QColor& color) {
            const auto over = [&](double c, double w) { return color.alphaF() * c + (1 - color.alphaF()) * w; };
            return QColor::fromRgbF(over(color.redF(), window.redF()), over(color.greenF(), window.greenF()),
                                    over(color.blueF(), window.blueF()));
        };
        QStringList faint;
        for (const QLabel* label : view.findChildren<QLabel*>()) {
            // A message's colour is chosen when it is shown.
            if (dark == "while open" && !label->styleSheet().isEmpty())
                continue;
            // A style sheet's colour shows in the label's own palette once
            // it is polished.
            label->ensurePolished();
            const double text = luminance(shown(label->palette().color(label->foregroundRole())));
            const double contrast = (std::max(text, background) + 0.05) / (std::min(text, background) + 0.05);
            if (contrast < 4.5)
                faint << label->accessibleDescription() + " " + label->objectName() + " " + QString::number(contrast);
        }
        QVERIFY2(faint.isEmpty(), qPrintable(faint.join(", ")));
    }

    // A job's progress and its result come into view where the window
    // scrolls, without the user looking for them.
    void aJobsStatusScrollsIntoView()
    {
        StandInWindow w;
        ViewController& view = w.view;
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.scrollArea->verticalScrollBar()->setValue(0);
        StandInJob& job = w.start("a.txt");
        QTRY_VERIFY(w.status.progressBar->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QTRY_VERIFY(inView(view, w.status.progressBar));
        view.scrollArea->verticalScrollBar()->setValue(0);
        emit job.finished(JobOutcome::delivered("/data/archive.zip", false));
        // The result page's size settles first: a check before it would see
        // the page where the running page was.
        QTRY_VERIFY(w.status.headlineLabel->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QTRY_VERIFY(inView(view, w.status.headlineLabel));
        // Once the user scrolls, a change of size leaves the view alone.
        QScrollBar& bar = *view.scrollArea->verticalScrollBar();
        bar.triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(bar.value(), 0);
        view.resize(view.width(), view.height() - 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
        QCOMPARE(bar.value(), 0);
    }
};

int main(int argc, char* argv[])
{
    // The screen is chosen before Qt starts, in device pixels; Qt divides
    // them by the scale factor.
    QTemporaryDir folder;
    const QSize size = screenSize();
    QFile config(folder.filePath(QStringLiteral("screen.json")));
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write(QStringLiteral(R"({"windowFrameMargins": true, "screens": [{"name": "screen", "x": 0, "y": 0,
        "width": %1, "height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                     .arg(size.width())
                     .arg(size.height())
                     .toUtf8());
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    qputenv("QT_SCALE_FACTOR", QByteArray::number(scale()));
    QApplication application(argc, argv);
    TestWindowScale test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_WindowScale.moc"
