#include "JapaneseQtTexts.h"

#include "Log.h"
#include "LogPrefix.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool JapaneseQtTexts::install(QCoreApplication& application, QTranslator& translator)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // "qt" is the catalogue that pulls in qtbase and the other modules'.
    if (!translator.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qt"), QStringLiteral("_"), folder)) {
        Log::line(LogPrefix::kTranslations + std::string("no Japanese catalogue in ") + folder.toStdString());
        return false;
    }
    application.installTranslator(&translator);
    return true;
}
