#pragma once

#include <QObject>

class QWidget;

// Text that matters less than the rest (the ready note, the item being
// archived, where the password is kept) in a quieter colour that still
// reads: the palette's placeholder grey falls below the 4.5:1 contrast
// text needs on the window's background. The colour is a mix of the
// palette's text and window colours, made again when the palette changes
// (a dark theme chosen while the window is open).
class SecondaryText : public QObject {
    Q_OBJECT
public:
    // The widget owns what follows its palette.
    static void apply(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit SecondaryText(QWidget* widget);
    void mix();

    QWidget* m_widget;
};
