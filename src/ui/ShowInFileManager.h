#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <string>

// Shows a file selected in the desktop's file manager, through the
// org.freedesktop.FileManager1 ShowItems call on the session bus; where no
// file manager answers it, opens the file's folder instead; where that fails
// too, tells the user in a sentence, with the folder to open by hand. Never
// blocks: the call's answer, and the folder opener's, arrive later.
class ShowInFileManager : public QObject {
    Q_OBJECT
public:
    // Opens folder and calls done once, with whether it opened.
    using OpenFolder =
        std::function<void(const std::string& folder, std::function<void(bool opened)> done)>;
    // A sentence and a piece of advice, for the user to read in the window.
    using TellProblem = std::function<void(const QString& sentence, const QString& advice)>;

    ShowInFileManager(QDBusConnection bus, OpenFolder openFolder, TellProblem tellProblem = {},
                      QObject* parent = nullptr);

    void showItem(const std::string& path);

signals:
    // The request has been dealt with: selected by the file manager, or
    // handed to openFolder (opened tells whether that worked; if not, the
    // user has been told).
    void shown(bool selected, bool opened);

private:
    void fallBack(const std::string& path, const QString& why);
    void folderOpened(const std::string& folder, bool opened);

    QDBusConnection m_bus;
    OpenFolder m_openFolder;
    TellProblem m_tellProblem;
};
