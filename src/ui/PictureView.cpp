#include "PictureView.h"

#include "Log.h"
#include "LogPrefix.h"

#include <QFile>
#include <QPainter>

#include <algorithm>

namespace {

// The pictures are drawn on a 400 x 240 canvas and keep its lower band,
// inside their frame, free for the caption.
constexpr qreal kCanvasWidth = 400;
constexpr qreal kCanvasHeight = 240;
const QRectF kCaptionBand(24, 182, 352, 36);
constexpr qreal kCaptionPixelSize = 16;
constexpr qreal kSmallestCaptionPixelSize = 11;

} // namespace

PictureView::PictureView(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PictureView::setImageNamed(const QString& name)
{
    if (name == m_name)
        return;
    const QString file = QStringLiteral(":/pictures/%1.svg").arg(name);
    // A missing picture leaves the view empty rather than showing the last.
    m_loaded = QFile::exists(file) && m_renderer.load(file);
    if (!m_loaded)
        Log::line(LogPrefix::kPictureMissing + name.toStdString());
    m_name = name;
    update();
}

void PictureView::setCaption(const QString& caption)
{
    m_caption = caption;
    setAccessibleDescription(caption);
    update();
}

QSize PictureView::sizeHint() const
{
    return QSize(int(kCanvasWidth), int(kCanvasHeight));
}

QSize PictureView::minimumSizeHint() const
{
    return QSize(int(kCanvasWidth / 2), int(kCanvasHeight / 2));
}

QRectF PictureView::pictureRect() const
{
    const qreal scale = std::min(width() / kCanvasWidth, height() / kCanvasHeight);
    const QSizeF size(kCanvasWidth * scale, kCanvasHeight * scale);
    return QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void PictureView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF picture = pictureRect();
    if (m_loaded)
        m_renderer.render(&painter, picture);
    drawCaption(painter, picture);
}

void PictureView::drawCaption(QPainter& painter, const QRectF& picture) const
{
    if (m_caption.isEmpty())
        return;
    const qreal scale = picture.width() / kCanvasWidth;
    const QRectF band(picture.left() + kCaptionBand.left() * scale, picture.top() + kCaptionBand.top() * scale,
                      kCaptionBand.width() * scale, kCaptionBand.height() * scale);
    QFont font = painter.font();
    font.setPixelSize(int(std::max(kSmallestCaptionPixelSize, kCaptionPixelSize * scale)));
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::WindowText));
    const QString text = painter.fontMetrics().elidedText(m_caption, Qt::ElideRight, int(band.width()));
    painter.drawText(band, Qt::AlignCenter, text);
}
