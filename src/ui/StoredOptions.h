#pragma once

#include "SettingStatus.h"
#include "ViewServices.h"

#include <QObject>
#include <QTimer>

#include <functional>

// The window's remembered options: read once when the window loads, and
// written as they change. A check box is written when it is clicked; the
// password once typing pauses, when editing ends and when the window goes,
// never for each key.
class StoredOptions : public QObject {
    Q_OBJECT
public:
    // current reads the options the window shows at that moment.
    StoredOptions(const ViewServices& services, std::function<SettingStatus()> current,
                  QObject* parent = nullptr);

    SettingStatus load() const;
    // False when the options could not be written; the reason is on
    // standard output, said once.
    bool save(const SettingStatus& options);
    // Where the password of options is, or would be, remembered.
    PasswordPlace passwordPlace(const SettingStatus& options) const;

    // Writes what the window shows now, and forgets a pending write.
    void saveNow();
    // Writes what the window shows once the typing has paused.
    void saveSoon();
    bool isSavePending() const { return m_pause.isActive(); }

    // How long typing pauses before the password is written.
    static constexpr int kTypingPauseMs = 1000;

signals:
    // A write was tried: where the password is remembered may have changed
    // with its outcome.
    void saved(bool written);

private:
    std::function<SettingStatus()> m_load;
    std::function<bool(const SettingStatus&)> m_save;
    std::function<PasswordPlace(const SettingStatus&)> m_place;
    std::function<SettingStatus()> m_current;
    QTimer m_pause;
    // Without the services: the last write of the settings file failed.
    bool m_fileWriteFailed = false;
};
