#include "AlertColour.h"

#include <QPalette>
#include <QWidget>

namespace {

bool onDarkWindow(const QWidget* widget)
{
    return widget->palette().color(QPalette::Window).lightness() < 128;
}

} // namespace

QString AlertColour::failure(const QWidget* widget)
{
    return onDarkWindow(widget) ? QStringLiteral("color: #ff8a80;") : QStringLiteral("color: #b3261e;");
}

QString AlertColour::warning(const QWidget* widget)
{
    return onDarkWindow(widget) ? QStringLiteral("color: #ffb74d;") : QStringLiteral("color: #8a5300;");
}
