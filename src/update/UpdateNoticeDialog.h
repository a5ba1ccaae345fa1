#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The update notice: "更新があります", the service's message and two
// buttons. The message comes from the network, so it is shown as plain
// text: markup stays visible as typed and nothing in it can be clicked.
class UpdateNoticeDialog : public QDialog
{
    Q_OBJECT

public:
    explicit UpdateNoticeDialog(const QString& message, QWidget* parent = nullptr);

    QLabel* const headingLabel;
    QLabel* const messageLabel;
    QPushButton* const confirmButton;
    QPushButton* const closeButton;

    // Shows the notice application-modally and returns once it is closed:
    // true only when the user chose "確認する".
    static bool ask(const QString& message, QWidget* parent = nullptr);
};
