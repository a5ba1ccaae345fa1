// The drop pictures: both exist, differ where they should, fill the view at
// any size and leave room for the caption.
#include "LogCapture.h"
#include "PictureView.h"

#include <QImage>
#include <QTest>

namespace {

const QColor kAccent(0x2f, 0x6f, 0xde);

QImage render(const QString& name, const QSize& size, const QString& caption = QString())
{
    PictureView view;
    view.setImageNamed(name);
    view.setCaption(caption);
    view.resize(size);
    return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool isNear(QRgb pixel, const QColor& colour)
{
    return std::abs(qRed(pixel) - colour.red()) < 24 && std::abs(qGreen(pixel) - colour.green()) < 24
        && std::abs(qBlue(pixel) - colour.blue()) < 24;
}

int accentPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += isNear(image.pixel(x, y), kAccent);
    return count;
}

// The columns that hold anything but the background colour of the corner.
QPair<int, int> drawnColumns(const QImage& image)
{
    const QRgb background = image.pixel(0, 0);
    int left = image.width();
    int right = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return {left, right};
}

} // namespace

class TestPictureView : public QObject {
    Q_OBJECT
private slots:
    void activePictureIsHighlightedInTheAccentColour();
    void pictureFillsTheViewAtAnySize_data();
    void pictureFillsTheViewAtAnySize();
    void captionIsWrittenInsideThePicture();
    void unknownPictureIsReported();
};

void TestPictureView::activePictureIsHighlightedInTheAccentColour()
{
    const QImage idle = render(QStringLiteral("drop"), QSize(400, 240));
    const QImage active = render(QStringLiteral("drop_active"), QSize(400, 240));
    QVERIFY(idle != active);
    QCOMPARE(accentPixels(idle), 0);
    QVERIFY2(accentPixels(active) > 2000, qPrintable(QString::number(accentPixels(active))));
}

void TestPictureView::pictureFillsTheViewAtAnySize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("small") << QSize(200, 120);
    QTest::newRow("as opened") << QSize(420, 252);
    QTest::newRow("large") << QSize(1200, 720);
}

void TestPictureView::pictureFillsTheViewAtAnySize()
{
    QFETCH(QSize, size);
    for (const QString& name : {QStringLiteral("drop"), QStringLiteral("drop_active")}) {
        const QImage image = render(name, size);
        const auto [left, right] = drawnColumns(image);
        // The frame runs within a few per cent of both edges.
        QVERIFY2(left <= size.width() * 3 / 100, qPrintable(name + " " + QString::number(left)));
        QVERIFY2(right >= size.width() * 97 / 100, qPrintable(name + " " + QString::number(right)));
    }
}

void TestPictureView::captionIsWrittenInsideThePicture()
{
    const QSize size(400, 240);
    const QImage without = render(QStringLiteral("drop"), size);
    const QImage with = render(QStringLiteral("drop"), size, QStringLiteral("ここにファイルやフォルダをドロップ"));
    // Only the caption band, inside the frame, changes.
    int changedAbove = 0;
    int changedInBand = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            if (without.pixel(x, y) != with.pixel(x, y))
                (y < 180 ? changedAbove : changedInBand) += 1;
    QCOMPARE(changedAbove, 0);
    QVERIFY(changedInBand > 200);
}

void TestPictureView::unknownPictureIsReported()
{
    PictureView view;
    LogCapture log;
    view.setImageNamed(QStringLiteral("missing"));
    QCOMPARE(log.take(), QByteArray("picture not found: missing\n"));
}

QTEST_MAIN(TestPictureView)
#include "tst_PictureView.moc"
