#pragma once

#include "OptionStore.h"

#include <QString>

#include <chrono>

// What a start without a window may need of the session bus: the keyring
// that keeps the stored password, and a notice on the desktop. They live in
// a library of their own (see DesktopModule), so that a batch job that
// needs neither starts without the bus's libraries.
class DesktopServices {
public:
    // What the library gives: a new set of the services, the caller's to
    // delete; the session bus is connected only once a service is used.
    using Entry = DesktopServices* (*)();
    static constexpr const char* kEntryName = "quillmere_desktop_services";
    static constexpr const char* kFileName = "quillmere-desktop.so";

    virtual ~DesktopServices() = default;
    // The stored password's keyring, for the option store; its writes get
    // writeLimit to finish when the services go.
    virtual OptionStore::Keyring keyring(std::chrono::milliseconds writeLimit) = 0;
    // Waits, at most limit, for the keyring writes still running; true when
    // none is left.
    virtual bool finishKeyring(std::chrono::milliseconds limit) = 0;
    // Gives a notice on the desktop and waits for the service's answer;
    // false when none answered.
    virtual bool showNotice(const QString& summary, const QString& body) = 0;
};
