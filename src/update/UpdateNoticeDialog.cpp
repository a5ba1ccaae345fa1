#include "UpdateNoticeDialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

UpdateNoticeDialog::UpdateNoticeDialog(const QString& message, QWidget* parent)
    : QDialog(parent)
    , headingLabel(new QLabel(QStringLiteral("更新があります"), this))
    , messageLabel(new QLabel(this))
    , confirmButton(new QPushButton(QStringLiteral("確認する"), this))
    , closeButton(new QPushButton(QStringLiteral("閉じる"), this))
{
    setWindowTitle(QStringLiteral("Quillmere"));
    // A screen reader names the window by this, not by its title.
    setAccessibleName(QStringLiteral("Quillmere の更新のお知らせ"));
    setWindowModality(Qt::ApplicationModal);

    QFont heading = headingLabel->font();
    heading.setBold(true);
    headingLabel->setFont(heading);
    headingLabel->setTextFormat(Qt::PlainText);
    // Set before the text, so the text is never parsed as markup.
    messageLabel->setTextFormat(Qt::PlainText);
    messageLabel->setOpenExternalLinks(false);
    messageLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    messageLabel->setWordWrap(true);
    // A screen reader reads the message itself, and what it is.
    messageLabel->setText(message);
    messageLabel->setAccessibleName(message);
    messageLabel->setAccessibleDescription(QStringLiteral("更新のお知らせ"));
    confirmButton->setAccessibleName(QStringLiteral("確認する"));
    confirmButton->setAccessibleDescription(QStringLiteral("更新のページをブラウザで開きます"));
    closeButton->setAccessibleName(QStringLiteral("閉じる"));
    confirmButton->setDefault(true);
    connect(confirmButton, &QPushButton::clicked, this, &QDialog::accept);
    // Escape and the window's close button reject as well: "close", never "open".
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* icon = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);

    // However long the service's message, the buttons stay on the screen:
    // the message scrolls within at most half of it. Tab reaches the message
    // after the buttons, so that the keyboard scrolls it as well (arrows,
    // Page Up and Page Down); the notice still opens on "確認する".
    auto* messageArea = new QScrollArea(this);
    messageArea->setWidget(messageLabel);
    messageArea->setWidgetResizable(true);
    messageArea->setFrameShape(QFrame::NoFrame);
    messageArea->setFocusPolicy(Qt::StrongFocus);
    messageArea->setAccessibleName(QStringLiteral("更新のお知らせ"));
    setTabOrder(confirmButton, closeButton);
    setTabOrder(closeButton, messageArea);
    confirmButton->setFocus();
    const QScreen* shownOn = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (shownOn)
        messageArea->setMaximumHeight(shownOn->availableGeometry().height() / 2);
    auto* texts = new QVBoxLayout;
    texts->addWidget(headingLabel);
    texts->addWidget(messageArea, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(confirmButton);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    setMinimumWidth(360);
}

bool UpdateNoticeDialog::ask(const QString& message, QWidget* parent)
{
    UpdateNoticeDialog dialog(message, parent);
    return dialog.exec() == QDialog::Accepted;
}
