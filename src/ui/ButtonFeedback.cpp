#include "ButtonFeedback.h"

#include "AccessibleText.h"

#include <QPushButton>

#include <utility>

ButtonFeedback::ButtonFeedback(QPushButton* button, QString done)
    : QObject(button)
    , m_button(button)
    , m_done(std::move(done))
{
    m_restore.setSingleShot(true);
    m_restore.setInterval(kShownMs);
    connect(&m_restore, &QTimer::timeout, this, &ButtonFeedback::restore);
    // Wide enough for either text, so that the row does not move.
    const QString text = button->text();
    button->setText(m_done);
    const int widest = button->sizeHint().width();
    button->setText(text);
    button->setMinimumWidth(std::max(widest, button->sizeHint().width()));
}

void ButtonFeedback::confirm(const QString& note)
{
    if (!m_restore.isActive()) {
        m_text = m_button->text();
        m_name = m_button->accessibleName();
    }
    m_button->setText(m_done);
    AccessibleText::setName(m_button, m_name + QStringLiteral("：") + m_done + note);
    m_restore.start();
}

void ButtonFeedback::restore()
{
    m_button->setText(m_text);
    AccessibleText::setName(m_button, m_name);
}
