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
// user cancels.
class ItemChooser {
public:
    using Chosen = std::function<void(const std::vector<std::string>& paths)>;

    static void chooseFiles(QWidget* window, Chosen chosen);
    static void chooseFolder(QWidget* window, Chosen chosen);

private:
    static QFileDialog* makeDialog(QWidget* window, const QString& title);
    static void openWith(QFileDialog* dialog, Chosen chosen);
};
