#include "PasswordNotes.h"

#include "AccessibleText.h"
#include "AlertAccessible.h"
#include "AlertColour.h"
#include "JobStatusText.h"
#include "PasswordRule.h"

#include <QLabel>

namespace {

const QString kProblemRole = QStringLiteral("パスワードについての注意");
const QString kStorageRole = QStringLiteral("パスワードの保存先");
const QString kReceiverRole = QStringLiteral("受け取る人の開き方");

} // namespace

PasswordNotes::PasswordNotes(QLabel* problemLabel, QLabel* storageLabel, QLabel* receiverLabel)
    : m_problem(problemLabel)
    , m_storage(storageLabel)
    , m_receiver(receiverLabel)
{
    // A problem is read out as it appears, wherever the focus is: the one
    // typing the password is in the field, not on the note. So is a
    // password that will not be remembered after all, and no other note on
    // where it goes.
    AlertAccessible::markAsAlert(m_problem);
    AlertAccessible::markAsAlert(m_storage);
    AlertAccessible::setAlerting(m_storage, false);
}

void PasswordNotes::update(const SettingStatus& shown, PasswordPlace place)
{
    showProblem(shown);
    showStorage(shown, place);
    AccessibleText::showMessage(m_receiver, shown.isEncrypt ? receiverText() : QString(), kReceiverRole);
    m_receiver->setVisible(shown.isEncrypt);
}

void PasswordNotes::showProblem(const SettingStatus& shown)
{
    // Said as the password is typed, not after a job: only while it is
    // going to be used.
    QString note;
    bool refused = false;
    if (shown.encryptUnknown) {
        note = JobStatusText::encryptionUnknown();
        refused = true;
    } else if (shown.isEncrypt) {
        note = JobStatusText::passwordProblem(PasswordRule::check(shown.password));
        refused = !note.isEmpty();
        if (!refused && PasswordRule::needsJapaneseWindows(shown.password))
            note = JobStatusText::passwordWindowsWarning();
    }
    const bool news = !note.isEmpty() && note != m_problem->text();
    AccessibleText::showMessage(m_problem, note, kProblemRole);
    // Nothing to say: no empty line in the window, and nothing for a
    // screen reader to stop at.
    m_problem->setVisible(!note.isEmpty());
    m_problem->setStyleSheet(refused ? AlertColour::failure(m_problem) : AlertColour::warning(m_problem));
    if (news)
        AccessibleText::announce(m_problem);
}

void PasswordNotes::showStorage(const SettingStatus& shown, PasswordPlace place)
{
    const QString storage = storageText(shown, place);
    // Only the loss is news: where a kept password goes is said as it is
    // typed, and read where the user looks for it. So is a password the
    // note gave to the keyring that the keyring then refused: it is in the
    // settings file, as plain text, after all.
    const bool lost = place == PasswordPlace::Unsaved && !storage.isEmpty();
    const bool refused = m_shownPlace == PasswordPlace::Keyring
        && (place == PasswordPlace::SettingsFile || place == PasswordPlace::OpenSettingsFile);
    const bool news = (lost || refused) && storage != m_storage->text();
    m_shownPlace = place;
    // Read out while it tells the loss or the refusal, and only then: where
    // the password goes is no alarm to stop the typing for.
    AlertAccessible::setAlerting(m_storage, lost || refused);
    AccessibleText::showMessage(m_storage, storage, kStorageRole);
    m_storage->setVisible(!storage.isEmpty());
    const QString colour = lost ? AlertColour::failure(m_storage) : QString();
    if (m_storage->styleSheet() != colour)
        m_storage->setStyleSheet(colour);
    if (news)
        AccessibleText::announce(m_storage);
}

QString PasswordNotes::storageText(const SettingStatus& shown, PasswordPlace place)
{
    // Nothing typed, nothing to keep and nothing to say.
    if (shown.password.empty())
        return {};
    switch (place) {
    case PasswordPlace::Keyring:
        return QStringLiteral("パスワードは記憶されます（デスクトップのキーリングに保存）");
    case PasswordPlace::SettingsFile:
        return QStringLiteral("パスワードは記憶されます（キーリングが使えないため、"
                              "あなただけが読める設定ファイルに保存）");
    case PasswordPlace::OpenSettingsFile:
        return QStringLiteral("パスワードは記憶されます（設定ファイルに保存。"
                              "このファイルを他の人も読めないようにできませんでした）");
    case PasswordPlace::Unsaved:
        return QStringLiteral("設定を保存できなかったため、このパスワードは記憶されません。"
                              "忘れないよう、控えておいてください。");
    case PasswordPlace::NotStored:
        break;
    }
    return QStringLiteral("このパスワードは使えないため、記憶されません");
}

QString PasswordNotes::receiverText()
{
    return QStringLiteral("受け取る人は、Windows のエクスプローラーでアーカイブを開き、"
                          "このパスワードを入力して取り出します。パスワードはアーカイブと一緒に送らず、"
                          "電話や別のメッセージなど別の方法で伝えてください。");
}
