#pragma once

#include <QString>

class QWidget;

// The colours of failures and warnings, as style sheets: dark red and dark
// orange on a light window, light ones on a dark window, each at a contrast
// of 4.5:1 or more.
class AlertColour {
public:
    static QString failure(const QWidget* widget);
    static QString warning(const QWidget* widget);
};
