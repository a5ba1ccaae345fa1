#include "SecondaryText.h"

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

void SecondaryText::apply(QWidget* widget)
{
    QPalette palette = widget->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        const QColor text = palette.color(group, QPalette::WindowText);
        const QColor background = palette.color(group, QPalette::Window);
        palette.setColor(group, QPalette::WindowText,
                         QColor(mixed(text.red(), background.red()), mixed(text.green(), background.green()),
                                mixed(text.blue(), background.blue())));
    }
    widget->setPalette(palette);
}
