#include "ItemChooser.h"

#include "WindowLayout.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

void ItemChooser::chooseFiles(QWidget* window, const std::string& startFolder, Chosen chosen)
{
    QFileDialog* dialog = makeDialog(window, QStringLiteral("アーカイブに入れるファイルを選択"), startFolder);
    dialog->setObjectName(QStringLiteral("fileChooser"));
    dialog->setFileMode(QFileDialog::ExistingFiles);
    openWith(dialog, std::move(chosen));
}

void ItemChooser::chooseFolder(QWidget* window, const std::string& startFolder, Chosen chosen)
{
    QFileDialog* dialog = makeDialog(window, QStringLiteral("アーカイブに入れるフォルダを選択"), startFolder);
    dialog->setObjectName(QStringLiteral("folderItemChooser"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    openWith(dialog, std::move(chosen));
}

QString ItemChooser::startingFolder(const std::string& startFolder)
{
    const QString folder = QFile::decodeName(QByteArray::fromStdString(startFolder));
    if (startFolder.empty() || !QFileInfo(folder).isDir())
        return QDir::homePath();
    return folder;
}

QFileDialog* ItemChooser::makeDialog(QWidget* window, const QString& title, const std::string& startFolder)
{
    auto* dialog = new QFileDialog(window, title, startingFolder(startFolder));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // Qt's own dialog, translated with the rest of Qt's texts; the items
    // are only read, so no folder is made from here.
    dialog->setOptions(dialog->options() | QFileDialog::DontUseNativeDialog | QFileDialog::ReadOnly);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("選択"));
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("キャンセル"));
    fitToScreen(*dialog);
    return dialog;
}

void ItemChooser::fitToScreen(QFileDialog& dialog)
{
    dialog.resize(dialog.size().boundedTo(WindowLayout::roomOn(dialog.screen())));
}

void ItemChooser::openWith(QFileDialog* dialog, Chosen chosen)
{
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, chosen](int result) {
        dialog->deleteLater();
        if (result != QDialog::Accepted)
            return;
        std::vector<std::string> paths;
        for (const QString& file : dialog->selectedFiles())
            paths.push_back(QFile::encodeName(QDir::cleanPath(file)).toStdString());
        if (!paths.empty())
            chosen(paths);
    });
    dialog->open();
}
