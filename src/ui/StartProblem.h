#pragma once

#include <QString>

class QMessageBox;

// A start that cannot do what it was opened for says so in a window of its
// own: started from a file manager, it has no terminal to say it on, and
// without a word nothing at all would seem to happen.
class StartProblem {
public:
    // The box, not yet shown.
    static QMessageBox* make(const QString& sentence, const QString& advice);
    // Shows it and returns once the user has read it (or the program is
    // ending).
    static void tell(const QString& sentence, const QString& advice);
};
