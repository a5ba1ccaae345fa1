#include "AppProcess.h"

#include <QFile>

#include <csignal>

namespace {

QString qtText(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

QProcessEnvironment environmentFor(const AppProcess::Setting& setting)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), qtText(setting.home));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), qtText(setting.runtimeFolder));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), qtText(setting.configFolder));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The program has to find its name converter on its own.
    environment.remove(QStringLiteral("GCONV_PATH"));
    if (!setting.standInFolder.empty()) {
        const QString path = environment.value(QStringLiteral("PATH"));
        environment.insert(QStringLiteral("PATH"), qtText(setting.standInFolder) + QLatin1Char(':') + path);
    }
    if (!setting.marksFolder.empty())
        environment.insert(QStringLiteral("QUILLMERE_TEST_MARKS"), qtText(setting.marksFolder));
    const auto equals = setting.tag.find('=');
    if (equals != std::string::npos)
        environment.insert(qtText(setting.tag.substr(0, equals)), qtText(setting.tag.substr(equals + 1)));
    return environment;
}

} // namespace

AppProcess::AppProcess(const std::string& program, const Setting& setting)
    : m_program(qtText(program))
{
    m_process.setProcessEnvironment(environmentFor(setting));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

AppProcess::~AppProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void AppProcess::start(const std::string& workingFolder, const std::vector<std::string>& arguments)
{
    QStringList qtArguments;
    for (const std::string& argument : arguments)
        qtArguments << qtText(argument);
    m_process.setWorkingDirectory(qtText(workingFolder));
    m_process.start(m_program, qtArguments);
    m_process.waitForStarted(10000);
}

bool AppProcess::waitForEnd(int milliseconds)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(milliseconds);
}

bool AppProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool AppProcess::endedNormally() const
{
    return !isRunning() && m_process.exitStatus() == QProcess::NormalExit;
}

int AppProcess::exitCode() const
{
    return m_process.exitCode();
}

std::string AppProcess::output()
{
    m_output += m_process.readAll().toStdString();
    return m_output;
}

void AppProcess::sendSignal(int signalNumber) const
{
    if (isRunning())
        ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
}
