#include "DialogFolderChooser.h"

#include "ItemChooser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QToolButton>

DialogFolderChooser::DialogFolderChooser(QWidget* parentWindow)
    : m_parentWindow(parentWindow)
{
}

void DialogFolderChooser::chooseFolderIn(const std::string& startFolder, FolderChosen done)
{
    QFileDialog* dialog = makeDialog(ItemChooser::startingFolder(startFolder));
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done](int result) {
        dialog->deleteLater();
        if (result != QDialog::Accepted) {
            done(false, {});
            return;
        }
        const QStringList selected = dialog->selectedFiles();
        done(true, selected.isEmpty() ? std::string() : QFile::encodeName(selected.first()).toStdString());
    });
    dialog->open();
}

QFileDialog* DialogFolderChooser::makeDialog(const QString& startFolder) const
{
    auto* dialog = new QFileDialog(m_parentWindow, QStringLiteral("保存先を選択"), startFolder);
    dialog->setObjectName(QStringLiteral("folderChooser"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::Directory);
    // A native dialog would decide for itself whether to offer "new folder";
    // Qt's own dialog can be told not to.
    dialog->setOptions(QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly | QFileDialog::DontUseNativeDialog);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("選択"));
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("キャンセル"));
    dialog->setLabelText(QFileDialog::LookIn, QStringLiteral("場所:"));
    dialog->setLabelText(QFileDialog::FileName, QStringLiteral("フォルダ:"));
    dialog->setLabelText(QFileDialog::FileType, QStringLiteral("種類:"));
    removeFolderCreation(*dialog);
    ItemChooser::fitToScreen(*dialog);
    return dialog;
}

void DialogFolderChooser::removeFolderCreation(QFileDialog& dialog)
{
    // ReadOnly only disables the "new folder" button; hidden, it also takes
    // the matching entry out of the dialog's context menu.
    if (auto* newFolderButton = dialog.findChild<QToolButton*>(QStringLiteral("newFolderButton")))
        newFolderButton->hide();
}
