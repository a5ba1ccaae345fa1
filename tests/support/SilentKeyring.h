#pragma once

#include <QDBusVirtualObject>

// Holds the keyring's name on a bus and never answers: a keyring that hangs
// (waiting on an unlock prompt no one answers, say).
class SilentKeyring : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
};
