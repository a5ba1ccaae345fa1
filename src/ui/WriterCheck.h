#pragma once

#include <QObject>
#include <QString>

// Finds out once, off the window's thread, whether php and its zip
// extension are there to write archives, and says plainly what is missing
// and how to install it.
class WriterCheck : public QObject {
    Q_OBJECT
public:
    explicit WriterCheck(QObject* parent = nullptr);

    // Returns at once; checked() follows.
    void start();

    // What to tell the user: empty when archives can be written.
    static QString problemText(bool canWrite, bool phpFound);

signals:
    void checked(const QString& problem);
};
