#include "SecondaryText.h"

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <QWidget>

namespace {

// Of the text's colour, this much; the rest is the background's.
constexpr double kTextShare = 0.6;

int mixed(int text, int background)
{
    return static_cast<int>(text * kTextShare + background * (1 - kTextShare) + 0.5);
}

} // namespace

SecondaryText::SecondaryText(QWidget* widget)
    : QObject(widget)
    , m_widget(widget)
{
}

void SecondaryText::apply(QWidget* widget)
{
    auto* follower = new SecondaryText(widget);
    widget->installEventFilter(follower);
    follower->mix();
}

bool SecondaryText::eventFilter(QObject* watched, QEvent* event)
{
    // A window's new palette reaches its children as PaletteChange; the
    // mix's own change comes back as one too, and then changes nothing.
    if (watched == m_widget
        && (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::PaletteChange))
        mix();
    return false;
}

void SecondaryText::mix()
{
    // From the application's palette, never from the widget's own, which
    // holds the last mix; only the text's role is set, so the other roles
    // keep following the window.
    const QPalette base = QApplication::palette(m_widget);
    QPalette palette;
    palette.setResolveMask(0);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor text = base.color(group, QPalette::WindowText);
        const QColor background = base.color(group, QPalette::Window);
        palette.setColor(group, QPalette::WindowText,
                         QColor(mixed(text.red(), background.red()), mixed(text.green(), background.green()),
                                mixed(text.blue(), background.blue())));
    }
    if (m_widget->palette().color(QPalette::Active, QPalette::WindowText)
        != palette.color(QPalette::Active, QPalette::WindowText))
        m_widget->setPalette(palette);
}
