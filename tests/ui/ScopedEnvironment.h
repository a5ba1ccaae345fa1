#pragma once

#include <QByteArray>
#include <QScopeGuard>

// Sets an environment variable while what it returns lives, and puts back
// what was there (or nothing) when that goes, also when a check in between
// fails and leaves the test early.
[[nodiscard]] inline auto scopedEnvironment(const char* name, const QByteArray& value)
{
    const bool wasSet = qEnvironmentVariableIsSet(name);
    const QByteArray saved = qgetenv(name);
    qputenv(name, value);
    return qScopeGuard([=] { wasSet ? qputenv(name, saved) : qunsetenv(name); });
}
