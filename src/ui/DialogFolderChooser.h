#pragma once

#include "FolderChooser.h"

#include <QPointer>
#include <QWidget>

#include <string>

class QFileDialog;

// The destination folder chooser: Qt's own file dialog, folders only, one
// folder, no way to create one, shown without blocking.
class DialogFolderChooser {
public:
    explicit DialogFolderChooser(QWidget* parentWindow = nullptr);

    // The window the dialog is shown over; may be set after construction,
    // since the window is made after the job queue that uses the chooser.
    void setParentWindow(QWidget* parentWindow) { m_parentWindow = parentWindow; }

    // Starts in startFolder, the folder of the items, where the archive
    // would otherwise go; in the home folder when that is gone.
    void chooseFolderIn(const std::string& startFolder, FolderChosen done);

private:
    QFileDialog* makeDialog(const QString& startFolder) const;
    static void removeFolderCreation(QFileDialog& dialog);

    QPointer<QWidget> m_parentWindow;
};
