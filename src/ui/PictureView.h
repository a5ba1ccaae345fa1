#pragma once

#include <QString>
#include <QSvgRenderer>
#include <QWidget>

// Shows one of the application's pictures by name, drawn from its vector
// source at the size and pixel density of the moment, with a caption written
// into the space the picture leaves for it.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    // Shows the picture ":/pictures/<name>.svg". Setting the shown picture
    // again changes nothing.
    void setImageNamed(const QString& name);

    void setCaption(const QString& caption);
    QString caption() const { return m_caption; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Where the picture goes: as large as fits, centred, in proportion.
    QRectF pictureRect() const;
    void drawCaption(QPainter& painter, const QRectF& picture) const;

    QSvgRenderer m_renderer;
    bool m_loaded = false;
    QString m_name;
    QString m_caption;
};
