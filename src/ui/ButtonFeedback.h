#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QPushButton;

// Tells on a button that what it does was done: for a moment the button
// says so (「コピーしました」), and its accessible name says it to screen
// readers, whose focus stays on the button; then it is the button it was.
class ButtonFeedback : public QObject {
    Q_OBJECT
public:
    ButtonFeedback(QPushButton* button, QString done);

    // note, when given, follows the done text in the accessible name.
    void confirm(const QString& note = {});
    bool isConfirming() const { return m_restore.isActive(); }

    static constexpr int kShownMs = 2000;

private:
    void restore();

    QPushButton* m_button;
    const QString m_done;
    QString m_text;
    QString m_name;
    QTimer m_restore;
};
