#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QFileDialog;

// Qt's own file dialog for picking what to archive, without dragging:
// several files, or one folder. Shown without blocking; chosen() gets the
// absolute paths as the file system's bytes, and is not called when the
// user cancels. They start in startFolder, or in the home folder when it is
// empty or gone.
class ItemChooser {
public:
    using Chosen = std::function<void(const std::vector<std::string>& paths)>;

    static void chooseFiles(QWidget* window, const std::string& startFolder, Chosen chosen);
    static void chooseFolder(QWidget* window, const std::string& startFolder, Chosen chosen);
    // startFolder as the dialog's folder, or the home folder.
    static QString startingFolder(const std::string& startFolder);
    // Qt's dialog opens at its own size, taller than a screen of 400
    // logical pixels (800 at 200 %): bounded to the room a window has there.
    static void fitToScreen(QFileDialog& dialog);

private:
    static QFileDialog* makeDialog(QWidget* window, const QString& title, const std::string& startFolder);
    static void openWith(QFileDialog* dialog, Chosen chosen);
};
