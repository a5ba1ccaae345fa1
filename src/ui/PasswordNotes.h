#pragma once

#include "SettingStatus.h"

#include <QString>

class QLabel;

// The three notes under the password field: what is wrong with the password
// (or what the receiver types), where it is remembered, and how the
// receiver opens an encrypted archive. Each says it to screen readers too.
class PasswordNotes {
public:
    PasswordNotes(QLabel* problemLabel, QLabel* storageLabel, QLabel* receiverLabel);

    // Brings the notes in step with the options the window shows, whose
    // password is kept at place.
    void update(const SettingStatus& shown, PasswordPlace place);

    static QString storageText(const SettingStatus& shown, PasswordPlace place);
    static QString receiverText();

private:
    void showProblem(const SettingStatus& shown);
    void showStorage(const SettingStatus& shown, PasswordPlace place);

    QLabel* m_problem;
    QLabel* m_storage;
    QLabel* m_receiver;
    // Where the note last said the password goes.
    PasswordPlace m_shownPlace = PasswordPlace::NotStored;
};
