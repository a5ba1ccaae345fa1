#pragma once

#include <QFuture>
#include <QObject>
#include <QString>

// Finds out once, off the window's thread, whether php and its zip
// extension are there to write archives, and says plainly what is missing
// and how to install it.
class WriterCheck : public QObject {
    Q_OBJECT
public:
    explicit WriterCheck(QObject* parent = nullptr);
    // Waits for the checks still running: they start php.
    ~WriterCheck() override;

    // Returns at once; checked() follows.
    void start();

    // What to tell the user: empty when archives can be written.
    static QString problemText(bool canWrite, bool phpFound);

signals:
    void checked(const QString& problem);

private:
    struct Answer {
        bool canWrite = false;
        bool phpFound = false;
    };

    void tell(const Answer& answer);

    QFuture<Answer> m_check;
    QFuture<bool> m_startupCheck;
};
