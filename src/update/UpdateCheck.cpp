#include "UpdateCheck.h"

#include "BuildNumber.h"
#include "Log.h"
#include "LogPrefix.h"
#include "UpdateAddress.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <string>
#include <utility>

namespace {

void logLine(const std::string& text)
{
    Log::line(LogPrefix::kUpdateCheck + text);
}

} // namespace

UpdateCheck::UpdateCheck(QNetworkAccessManager& network, AskToOpen askToOpen, OpenUrl openUrl,
                         TellProblem tellProblem, QUrl endpoint, QString buildNumber, QObject* parent)
    : QObject(parent)
    , m_network(network)
    , m_askToOpen(std::move(askToOpen))
    , m_openUrl(std::move(openUrl))
    , m_tellProblem(std::move(tellProblem))
    , m_endpoint(std::move(endpoint))
    , m_buildNumber(std::move(buildNumber))
{
}

UpdateCheck::~UpdateCheck()
{
    // A reply still under way would otherwise call back into a dead object.
    for (const Answer& answer : std::as_const(m_pending)) {
        QNetworkReply* reply = answer.reply;
        if (!reply)
            continue;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

QUrl UpdateCheck::defaultEndpoint()
{
    return QUrl(QString::fromStdString(UpdateAddress::configured()), QUrl::StrictMode);
}

QString UpdateCheck::defaultBuildNumber()
{
    return QStringLiteral(QUILLMERE_BUILD_NUMBER);
}

// An idle transfer is given up, so a silent server does not keep the check
// waiting; one that keeps sending a byte now and then is harmless, as the
// check holds nothing else up.
QNetworkRequest UpdateCheck::makeRequest(const QUrl& endpoint, int transferTimeoutMs)
{
    QNetworkRequest request(endpoint);
    request.setRawHeader("Content-Type", "text/plain");
    request.setTransferTimeout(transferTimeoutMs);
    return request;
}

void UpdateCheck::fetchAppInfo()
{
    QNetworkReply* reply = m_network.get(makeRequest(m_endpoint, m_transferTimeoutMs));
    m_pending.insert(reply, Answer{reply, {}, false});
    // The answer is taken as it arrives, so that an endless one is cut off
    // at the limit instead of filling the memory.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            refuseIfLarger(reply, length.toLongLong());
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { collect(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onReplyFinished(reply); });
}

void UpdateCheck::collect(QNetworkReply* reply)
{
    auto answer = m_pending.find(reply);
    // A reply given up (timed out, aborted) has nothing more to read.
    if (answer == m_pending.end() || answer->tooLarge || !reply->isOpen())
        return;
    answer->body += reply->read(kMaxAnswerBytes + 1 - answer->body.size());
    refuseIfLarger(reply, answer->body.size());
}

void UpdateCheck::refuseIfLarger(QNetworkReply* reply, qint64 size)
{
    auto answer = m_pending.find(reply);
    if (answer == m_pending.end() || answer->tooLarge || size <= kMaxAnswerBytes)
        return;
    answer->tooLarge = true;
    answer->body.clear();
    // abort() finishes the reply at once; the flag tells why.
    reply->abort();
}

void UpdateCheck::onReplyFinished(QNetworkReply* reply)
{
    const auto pending = m_pending.find(reply);
    if (pending == m_pending.end())
        return;
    collect(reply);
    const Answer answer = *pending;
    m_pending.erase(pending);
    reply->deleteLater();
    // Everything needed is taken from the reply here, before the notice runs
    // its own event loop.
    const std::optional<AppInfo> info = appInfoFrom(*reply, answer);
    const QPointer<UpdateCheck> alive(this);
    if (info && isNewerThanRunning(*info))
        showUpdateAlert(*info);
    if (alive)
        emit finished();
}

std::optional<AppInfo> UpdateCheck::appInfoFrom(QNetworkReply& reply, const Answer& answer) const
{
    if (answer.tooLarge) {
        Log::line(LogPrefix::kUpdateError + std::string("the answer is larger than ") + std::to_string(kMaxAnswerBytes) + " bytes");
        return std::nullopt;
    }
    // These come with the status of the last answer (a redirection), and Qt
    // tells a silent transfer it gave up as cancelled: nothing else cancels
    // one here. Said in the words of the other lines, not Qt's.
    switch (reply.error()) {
    case QNetworkReply::OperationCanceledError:
        Log::line(LogPrefix::kUpdateError + std::string("the service sent nothing for ")
                  + QString::number(m_transferTimeoutMs / 1000.0).toStdString() + " s");
        return std::nullopt;
    case QNetworkReply::TooManyRedirectsError:
        Log::line(LogPrefix::kUpdateError + std::string("the service redirected too many times"));
        return std::nullopt;
    case QNetworkReply::InsecureRedirectError:
        Log::line(LogPrefix::kUpdateError + std::string("the service redirected to an address that is not https"));
        return std::nullopt;
    default:
        break;
    }
    // Qt reports an HTTP error status as a reply error as well; an answer that
    // came with a status is a status problem, not a transfer problem.
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200) {
        logLine("unexpected HTTP status " + std::to_string(status.toInt()));
        return std::nullopt;
    }
    if (reply.error() != QNetworkReply::NoError) {
        Log::line(LogPrefix::kUpdateError + reply.errorString().toStdString());
        return std::nullopt;
    }
    if (!status.isValid()) {
        logLine("the answer carried no HTTP status");
        return std::nullopt;
    }
    std::string problem;
    std::optional<AppInfo> info = AppInfo::fromJson(answer.body, problem);
    if (!info)
        logLine("the answer does not decode: " + problem);
    return info;
}

bool UpdateCheck::isNewerThanRunning(const AppInfo& info) const
{
    const std::optional<qint64> running = BuildNumber::parse(m_buildNumber.toStdString());
    if (!running) {
        logLine("the running build number \"" + m_buildNumber.toStdString()
                + "\" is not an integer");
        return false;
    }
    return *running < info.versionCode;
}

void UpdateCheck::showUpdateAlert(const AppInfo& info)
{
    const QPointer<UpdateCheck> alive(this);
    const bool confirmed = m_askToOpen && m_askToOpen(info.message);
    if (alive && confirmed)
        openPage(info.url);
}

void UpdateCheck::openPage(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    // The address comes from the network; only web pages are handed on, so an
    // answer cannot make the desktop open local files or other handlers.
    const bool isWebPage = url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
    if (!isWebPage) {
        logLine("cannot open the address \"" + address.toStdString() + "\"");
        tell(QStringLiteral("更新のページを開けませんでした。"),
             QStringLiteral("お知らせにあったアドレスはウェブページのものではないため、開きませんでした: ") + address);
        return;
    }
    if (!m_openUrl || !m_openUrl(url)) {
        logLine("the browser did not open " + url.toString().toStdString());
        tell(QStringLiteral("ブラウザで更新のページを開けませんでした。"),
             QStringLiteral("次のアドレスをブラウザで開いてください: ") + url.toString());
    }
}

void UpdateCheck::tell(const QString& sentence, const QString& advice)
{
    if (m_tellProblem)
        m_tellProblem(sentence, advice);
}
