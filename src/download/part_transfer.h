#pragma once

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace talvoro {

// One HTTP transfer of one file into a partial file beside its destination. A partial file
// left by an earlier transfer is resumed with a Range request; a server that answers the
// whole file (200) instead starts it over. The transfer never moves the partial file: the
// owner checks the outcome and moves it into place. Lives and reports on the thread that made
// it, which runs a Qt event loop. The bytes are hashed as they are written, so the owner's
// check costs no second reading.
class PartTransfer : public QObject {
public:
    struct Outcome {
        enum class Kind {
            received,      // a 200 or 206 answer ran to its end; `bytes` = the partial file's size
            badAnswer,     // a status other than 200/206, or a body past `limitBytes`
            transferError, // the connection failed or stalled; the partial file keeps what came
            localError,    // the partial file could not be opened or written
        };
        Kind kind = Kind::transferError;
        int status = 0;         // HTTP status of the last answer, 0 without one
        std::int64_t bytes = 0; // received: file size; badAnswer: bytes of that answer's body
        std::optional<std::int64_t> announced; // whole length the server announced
        std::string description;               // transferError and localError
        bool progressed = false;               // the partial file grew during this transfer
        std::string sha256;                    // received: hex SHA-256 of the whole partial file
    };

    struct Settings {
        QUrl url;
        std::string partialPath;
        std::int64_t limitBytes = 0; // a longer body is refused and the partial file dropped
        std::chrono::milliseconds stallTimeout{30000};
    };

    PartTransfer(QNetworkAccessManager& network, Settings settings,
                 std::function<void(std::int64_t written)> onProgress,
                 std::function<void(const Outcome&)> onFinished, QObject* parent = nullptr);
    ~PartTransfer() override; // stops silently, keeping the partial file

    void start();
    // Stops without reporting; the partial file stays for a later resume.
    void stop();

    // The Russian description of a transfer error, with the library's own text.
    static std::string describe(QNetworkReply::NetworkError error, const QString& text);

private:
    void send();
    void decide();
    void restartFromScratch();
    void receive();
    void consume();
    void finished();
    void stalled();
    void report(Outcome outcome);
    void dropReply();
    bool truncate();
    bool hashKept();
    void failLocally();

    QNetworkAccessManager& network_;
    const Settings settings_;
    std::function<void(std::int64_t)> onProgress_;
    std::function<void(const Outcome&)> onFinished_;

    QFile file_;
    QCryptographicHash hash_{QCryptographicHash::Sha256}; // of the partial file's bytes so far
    QPointer<QNetworkReply> reply_;
    QTimer stallTimer_;
    std::int64_t offset_ = 0;  // where the current answer's body starts in the file
    std::int64_t written_ = 0; // offset_ + bytes written from the current answer
    std::int64_t ignored_ = 0; // body bytes of an answer that is not written
    std::optional<std::int64_t> announced_;
    bool decided_ = false;
    bool accepting_ = false;
    bool restarted_ = false;
    bool timedOut_ = false;
    bool overLimit_ = false;
    bool wrote_ = false;
    bool done_ = false;
};

} // namespace talvoro
