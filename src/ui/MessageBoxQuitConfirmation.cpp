#include "MessageBoxQuitConfirmation.h"

#include <QMessageBox>
#include <QPushButton>

MessageBoxQuitConfirmation::MessageBoxQuitConfirmation(QWidget* parent)
    : m_parent(parent)
{
}

bool MessageBoxQuitConfirmation::confirmQuit()
{
    QMessageBox box(m_parent);
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle(QStringLiteral("Quillmere"));
    box.setText(QStringLiteral("アーカイブを作成しています。終了しますか？"));
    box.setInformativeText(QStringLiteral("終了すると、作成中と待機中のアーカイブは作成されません。"));
    QPushButton* quitButton = box.addButton(QStringLiteral("終了する"), QMessageBox::DestructiveRole);
    QPushButton* stayButton = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    // Enter, Escape and the close button all keep the work going.
    box.setDefaultButton(stayButton);
    box.setEscapeButton(stayButton);
    box.exec();
    return box.clickedButton() == quitButton;
}
