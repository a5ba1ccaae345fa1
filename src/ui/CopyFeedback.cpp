#include "CopyFeedback.h"

#include "AccessibleText.h"

#include <QPushButton>

namespace {

const QString kCopied = QStringLiteral("コピーしました");

} // namespace

CopyFeedback::CopyFeedback(QPushButton* button)
    : QObject(button)
    , m_button(button)
{
    m_restore.setSingleShot(true);
    m_restore.setInterval(kShownMs);
    connect(&m_restore, &QTimer::timeout, this, &CopyFeedback::restore);
    // Wide enough for either text, so that the row does not move.
    const QString text = button->text();
    button->setText(kCopied);
    const int widest = button->sizeHint().width();
    button->setText(text);
    button->setMinimumWidth(std::max(widest, button->sizeHint().width()));
}

void CopyFeedback::confirm()
{
    if (!m_restore.isActive()) {
        m_text = m_button->text();
        m_name = m_button->accessibleName();
    }
    m_button->setText(kCopied);
    AccessibleText::setName(m_button, m_name + QStringLiteral("：") + kCopied);
    m_restore.start();
}

void CopyFeedback::restore()
{
    m_button->setText(m_text);
    AccessibleText::setName(m_button, m_name);
}
