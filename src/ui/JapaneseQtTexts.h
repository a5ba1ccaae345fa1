#pragma once

class QCoreApplication;
class QTranslator;

// Qt's own texts (file dialogs, context menus, standard buttons) in
// Japanese, like the rest of the window, whatever the system's language.
class JapaneseQtTexts {
public:
    // Loads Qt's Japanese catalogue from Qt's translations folder into
    // translator and installs it; false, with a line, when it is missing.
    static bool install(QCoreApplication& application, QTranslator& translator);
};
