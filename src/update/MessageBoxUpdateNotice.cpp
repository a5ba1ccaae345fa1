#include "MessageBoxUpdateNotice.h"

#include <QMessageBox>
#include <QPushButton>

MessageBoxUpdateNotice::MessageBoxUpdateNotice(QWidget* parent)
    : m_parent(parent)
{
}

bool MessageBoxUpdateNotice::confirm(const QString& text, const QString& informativeText,
                                     const QString& confirmLabel, const QString& closeLabel)
{
    QMessageBox box(m_parent);
    box.setIcon(QMessageBox::Information);
    box.setWindowModality(Qt::ApplicationModal);
    QPushButton* confirmButton = box.addButton(confirmLabel, QMessageBox::AcceptRole);
    QPushButton* closeButton = box.addButton(closeLabel, QMessageBox::RejectRole);
    box.setDefaultButton(confirmButton);
    // Escape and the window's close button count as "close", never as "open".
    box.setEscapeButton(closeButton);
    box.setText(text);
    box.setInformativeText(informativeText);
    box.exec();
    return box.clickedButton() == confirmButton;
}
