#pragma once

#include "QuitConfirmation.h"

#include <QPointer>
#include <QWidget>

// The quit question as a message box over the window.
class MessageBoxQuitConfirmation : public QuitConfirmation {
public:
    explicit MessageBoxQuitConfirmation(QWidget* parent = nullptr);

    bool confirmQuit() override;

private:
    QPointer<QWidget> m_parent;
};
