#pragma once

#include "SecretReading.h"
#include "SettingStatus.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// The remembered options of the window and of files opened with the
// application: the settings file keeps isEncrypt, isSelectDir and
// nameAfterItems under "settings"; the password goes into the desktop's
// keyring, or into the settings file (readable by its owner alone) where no
// keyring answers. A password that cannot encrypt an archive (an empty one
// included) is never stored. One found in the settings file (written by
// hand, say) is loaded as it is, so that its problem can be told, and stays
// there until another is saved; the keyring's is removed.
//
// The keyring is reached through two plain functions filled in by main;
// without them the settings file keeps everything. The store is read once:
// load() decides where the password lives for the whole run, moves a
// password found in the settings file into the keyring, and later calls
// give the options as last saved. One store serves the whole process.
class OptionStore {
public:
    struct Keyring {
        // Waits a bounded time; Unreachable when no keyring answers.
        std::function<SecretReading()> read;
        // Stores the password, or removes it when nullopt, in the background
        // and in order; done is called later, on the same thread, unless a
        // newer write replaces this one before it begins.
        std::function<void(const std::optional<std::string>& password, std::function<void(bool stored)> done)>
            write;
    };

    explicit OptionStore(Keyring keyring = {});

    SettingStatus load();
    // Replaces the stored options; true when the settings file took them
    // (the keyring's answer comes later and falls back to the file).
    bool save(const SettingStatus& options);
    // Where options' password is (or would be) kept: Unsaved while the
    // settings file, which is to keep it, could not be written the last
    // time (and does not hold it from before).
    PasswordPlace passwordPlace(const SettingStatus& options) const;
    // changed is called when that changes on its own: the keyring refused
    // a password, which the settings file keeps from then on, or the file
    // could not give up one the keyring took.
    void whenPasswordPlaceChanges(std::function<void()> changed) { m_placeChanged = std::move(changed); }
    // Why the settings file could not be relied on at load (which file, and
    // the system's reason, or the isEncrypt value it holds); empty when it
    // could, or when there is none.
    const std::string& unreadable() const { return m_unreadable; }
    // load() tells unreadable() in a line of its own, unless asked before
    // to leave that to the caller: a job refused for it says it in the
    // refusal's one line.
    void leaveUnreadableToCaller() { m_unreadableLeftToCaller = true; }
    void tellUnreadable() const;
    // Whether the password may be in a keyring that did not answer at load
    // (none reachable, locked, refusing, or silent): the settings file holds
    // none, so an empty password then says nothing of what the user stored.
    bool passwordOutOfReach() const { return m_passwordOutOfReach; }

private:
    void loadOnce();
    bool writeFile();
    void dropFilePassword();
    void makeFilePrivate();
    void askKeyring(const std::optional<std::string>& password);
    void onKeyringWritten(const std::optional<std::string>& password, bool stored);
    static std::optional<std::string> keepable(const std::string& password);

    Keyring m_keyring;
    std::function<void()> m_placeChanged;
    bool m_useKeyring = false;
    std::optional<SettingStatus> m_current;
    // What the keyring holds, or will once the writes asked for have run.
    std::optional<std::string> m_keyringWanted;
    // A password the settings file still holds while it moves to the keyring.
    std::string m_filePassword;
    // The file could not be rewritten without m_filePassword: it is kept
    // there, in plain text, whatever the keyring holds.
    bool m_filePasswordStuck = false;
    // The keyring may hold a password the user has since replaced or
    // cleared: a write or a removal failed. Kept in the settings file, so
    // that a later start does not bring that password back.
    bool m_keyringStale = false;
    // The settings file, when it holds a password, is readable by its owner
    // alone.
    bool m_filePrivate = true;
    std::string m_unreadable;
    bool m_unreadableLeftToCaller = false;
    bool m_passwordOutOfReach = false;
    // The last write of the settings file failed; what it holds is then
    // m_fileHolds, the password read at load or last written.
    bool m_fileWriteFailed = false;
    std::string m_fileHolds;
    // Tells the keyring's late answers whether the store is still there.
    std::shared_ptr<char> m_alive = std::make_shared<char>();
};
