#pragma once

#include <QString>

class QWidget;

// "バージョン情報": the application's version and build number.
class AboutBox {
public:
    // The box's text for the running version and build.
    static QString text(const QString& version, const QString& buildNumber);
    static void show(QWidget* window);
};
