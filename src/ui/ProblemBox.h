#pragma once

#include <QString>

class QMessageBox;
class QWidget;

// What cannot be done outside a job says so in a window of its own: a
// start that cannot do what it was opened for (started from a file manager,
// it has no terminal to say it on), or an update page no browser opened.
// Without a word nothing at all would seem to happen. The texts can be
// selected and copied: the advice may hold an address or a folder to open
// by hand.
class ProblemBox {
public:
    // The box, not yet shown; over window when one is given.
    static QMessageBox* make(const QString& sentence, const QString& advice, QWidget* window = nullptr);
    // Shows it and returns once the user has read it (or the program is
    // ending).
    static void tell(const QString& sentence, const QString& advice);
    // Shows it over window (or on its own without one) and returns at once,
    // for a problem that comes in the middle of something; it goes when
    // closed, and the focus goes back where it was in the window.
    static QMessageBox* showOver(QWidget* window, const QString& sentence, const QString& advice);
};
