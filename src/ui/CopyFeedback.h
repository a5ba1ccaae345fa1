#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QPushButton;

// Tells on a copy button that the copy was made: for a moment the button
// says 「コピーしました」, and its accessible name says it to screen readers;
// then it is the button it was.
class CopyFeedback : public QObject {
    Q_OBJECT
public:
    explicit CopyFeedback(QPushButton* button);

    void confirm();
    bool isConfirming() const { return m_restore.isActive(); }

    static constexpr int kShownMs = 2000;

private:
    void restore();

    QPushButton* m_button;
    QString m_text;
    QString m_name;
    QTimer m_restore;
};
