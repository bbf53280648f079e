#include "download/part_transfer.h"

#include <QNetworkRequest>
#include <QRegularExpression>
#include <cstdio>
#include <unistd.h>

namespace talvoro {

namespace {

// What the network layer may hold unread: bounds memory on a fast line.
constexpr qint64 readBufferBytes = 1 << 20;

struct ContentRange {
    std::int64_t first = 0;
    std::optional<std::int64_t> whole;
};

// "bytes FIRST-LAST/WHOLE" or "bytes FIRST-LAST/*".
std::optional<ContentRange> contentRange(const QByteArray& header) {
    static const QRegularExpression form(R"(^\s*bytes\s+(\d+)-(\d+)/(\d+|\*)\s*$)");
    const auto match = form.match(QString::fromLatin1(header));
    if (!match.hasMatch())
        return std::nullopt;
    ContentRange range{match.captured(1).toLongLong(), std::nullopt};
    if (match.captured(3) != "*")
        range.whole = match.captured(3).toLongLong();
    return range;
}

// Qt 6.4 keeps a followed redirect's own Content-Length and joins it with the final answer's
// ("0, 12000"); the last value is the body that arrives.
std::optional<std::int64_t> contentLength(const QByteArray& header) {
    bool ok = false;
    const qint64 length = header.split(',').constLast().trimmed().toLongLong(&ok);
    return ok && length >= 0 ? std::optional<std::int64_t>(length) : std::nullopt;
}

std::string seconds(std::chrono::milliseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", duration.count() / 1000.0);
    return text;
}

} // namespace

PartTransfer::PartTransfer(QNetworkAccessManager& network, Settings settings,
                           std::function<void(std::int64_t)> onProgress,
                           std::function<void(const Outcome&)> onFinished, QObject* parent)
    : QObject(parent), network_(network), settings_(std::move(settings)),
      onProgress_(std::move(onProgress)), onFinished_(std::move(onFinished)) {
    stallTimer_.setSingleShot(true);
    stallTimer_.setInterval(settings_.stallTimeout);
    connect(&stallTimer_, &QTimer::timeout, this, [this] { stalled(); });
}

PartTransfer::~PartTransfer() {
    stop();
}

void PartTransfer::stop() {
    done_ = true;
    stallTimer_.stop();
    dropReply();
    if (file_.isOpen() && file_.size() == 0)
        file_.remove(); // an empty partial file holds nothing to resume
    file_.close();
}

std::string PartTransfer::describe(QNetworkReply::NetworkError error, const QString& text) {
    const char* what = nullptr;
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        what = "источник не принимает соединение";
        break;
    case QNetworkReply::RemoteHostClosedError:
        what = "источник оборвал соединение";
        break;
    case QNetworkReply::HostNotFoundError:
        what = "адрес источника не найден — нет сети?";
        break;
    case QNetworkReply::TimeoutError:
        what = "источник не ответил вовремя";
        break;
    case QNetworkReply::SslHandshakeFailedError:
        what = "защищённое соединение не сложилось";
        break;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
        what = "сеть недоступна";
        break;
    case QNetworkReply::TooManyRedirectsError:
        what = "слишком много перенаправлений";
        break;
    case QNetworkReply::InsecureRedirectError:
        what = "перенаправление на незащищённый адрес";
        break;
    default:
        break;
    }
    if (what == nullptr)
        return text.toStdString();
    return std::string(what) + " (" + text.toStdString() + ")";
}

void PartTransfer::start() {
    file_.setFileName(QString::fromStdString(settings_.partialPath));
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        failLocally();
        return;
    }
    if (file_.size() > settings_.limitBytes ? !truncate() : !hashKept())
        return;
    send();
}

void PartTransfer::send() {
    offset_ = written_ = file_.size();
    ignored_ = 0;
    announced_.reset();
    decided_ = accepting_ = false;

    QNetworkRequest request(settings_.url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);
    // One large file over one connection: HTTP/2 brings nothing here but its own flow control.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Byte ranges count the stored bytes: no transparent decompression.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setHeader(QNetworkRequest::UserAgentHeader, "talvoro/0.1");
    if (offset_ > 0)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(qint64(offset_)) + "-");
    reply_ = network_.get(request);
    reply_->setReadBufferSize(readBufferBytes);
    connect(reply_, &QNetworkReply::readyRead, this, [this] { receive(); });
    connect(reply_, &QNetworkReply::metaDataChanged, this, [this] { stallTimer_.start(); });
    connect(reply_, &QNetworkReply::finished, this, [this] { finished(); });
    stallTimer_.start();
}

// Called once the final answer's headers are known: whether its body goes into the file.
void PartTransfer::decide() {
    decided_ = true;
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 206) {
        const auto range = contentRange(reply_->rawHeader("Content-Range"));
        if (!range || range->first != offset_) {
            restartFromScratch();
            return;
        }
        announced_ = range->whole;
        accepting_ = true;
    } else if (status == 200) {
        if (offset_ > 0 && !truncate())
            return;
        offset_ = written_ = 0;
        announced_ = contentLength(reply_->rawHeader("Content-Length"));
        accepting_ = true;
    } else if (status == 416 && offset_ > 0) {
        // The kept bytes do not fit what the source has now.
        restartFromScratch();
    }
}

void PartTransfer::restartFromScratch() {
    if (restarted_ || offset_ == 0) {
        accepting_ = false; // counted as a bad answer
        return;
    }
    restarted_ = true;
    dropReply();
    if (truncate())
        send();
}

void PartTransfer::receive() {
    stallTimer_.start();
    consume();
}

void PartTransfer::consume() {
    if (!decided_) {
        QNetworkReply* answer = reply_;
        decide();
        if (reply_ != answer || done_)
            return; // restarted or failed
    }
    if (!reply_->isOpen())
        return; // aborted
    const QByteArray data = reply_->readAll();
    if (!accepting_) {
        ignored_ += data.size();
        return;
    }
    if (written_ + data.size() > settings_.limitBytes) {
        overLimit_ = true;
        written_ += data.size();
        reply_->abort();
        return;
    }
    if (file_.write(data) != data.size()) {
        failLocally();
        return;
    }
    hash_.addData(data);
    written_ += data.size();
    wrote_ = true;
    if (onProgress_)
        onProgress_(written_);
}

void PartTransfer::finished() {
    if (done_ || reply_ == nullptr)
        return;
    stallTimer_.stop();
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!decided_ && status != 0 && !timedOut_) {
        QNetworkReply* answer = reply_;
        decide();
        if (reply_ != answer || done_)
            return; // restarted or failed
    }
    consume(); // whatever the last readyRead left
    if (done_)
        return;

    Outcome outcome;
    outcome.status = status;
    if (overLimit_) {
        outcome.kind = Outcome::Kind::badAnswer;
        outcome.bytes = written_;
        file_.remove(); // nothing of it is worth resuming
    } else if (timedOut_) {
        outcome.description = "источник молчит дольше " + seconds(settings_.stallTimeout) + " с";
    } else if (status != 0 && !accepting_) {
        outcome.kind = Outcome::Kind::badAnswer;
        outcome.bytes = ignored_;
    } else if (reply_->error() != QNetworkReply::NoError || status == 0) {
        outcome.description = describe(reply_->error(), reply_->errorString());
    } else {
        outcome.kind = Outcome::Kind::received;
        ::fsync(file_.handle()); // the bytes are on disk before the file gets its final name
        outcome.bytes = file_.size();
        outcome.announced = announced_;
        outcome.sha256 = hash_.result().toHex().toStdString();
    }
    outcome.progressed = wrote_;
    report(outcome);
}

void PartTransfer::stalled() {
    if (reply_ == nullptr || done_)
        return;
    timedOut_ = true;
    reply_->abort(); // finishes the reply, which reports the stall
}

void PartTransfer::report(Outcome outcome) {
    if (done_)
        return;
    stop();
    if (onFinished_)
        onFinished_(outcome);
}

void PartTransfer::dropReply() {
    if (reply_ == nullptr)
        return;
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

bool PartTransfer::truncate() {
    hash_.reset();
    if (file_.resize(0))
        return true;
    failLocally();
    return false;
}

// A resumed file's hash starts with the bytes an earlier transfer left.
bool PartTransfer::hashKept() {
    hash_.reset();
    if (file_.size() == 0)
        return true;
    QFile kept(file_.fileName());
    if (kept.open(QIODevice::ReadOnly) && hash_.addData(&kept))
        return true;
    failLocally();
    return false;
}

void PartTransfer::failLocally() {
    Outcome outcome;
    outcome.kind = Outcome::Kind::localError;
    outcome.description =
        "не удалось записать " + settings_.partialPath + ": " + file_.errorString().toStdString();
    report(outcome);
}

} // namespace talvoro
