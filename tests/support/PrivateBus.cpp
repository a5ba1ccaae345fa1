#include "PrivateBus.h"

#include <QDir>
#include <QFile>

namespace {

const int kStartMilliseconds = 20000;
const int kStopMilliseconds = 5000;

const char* const kBusConfig =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n"
    "  <type>session</type>\n"
    "  <listen>unix:tmpdir=%1</listen>\n"
    "  <servicedir>%2</servicedir>\n"
    "  <policy context=\"default\">\n"
    "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
    "    <allow eavesdrop=\"true\"/>\n"
    "    <allow own=\"*\"/>\n"
    "  </policy>\n"
    "</busconfig>\n";

} // namespace

PrivateBus::PrivateBus(const QString& folder)
{
    QDir().mkpath(folder + "/services");
    QFile config(folder + "/bus.conf");
    if (!config.open(QIODevice::WriteOnly))
        return;
    config.write(QString(kBusConfig).arg(folder, folder + "/services").toUtf8());
    config.close();
    m_daemon.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
    if (!m_daemon.waitForStarted(kStartMilliseconds))
        return;
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(kStartMilliseconds)) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    stop(m_daemon);
}

void PrivateBus::stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(kStopMilliseconds)) {
        process.kill();
        process.waitForFinished(kStopMilliseconds);
    }
}
