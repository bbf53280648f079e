#pragma once

#include <QNetworkReply>
#include <stdexcept>
#include <string>

namespace talvoro {

// A transfer that failed on the way (no connection, host not found, timeout, …), as the
// model download reports it. The code is Qt's.
class NetworkError : public std::runtime_error {
public:
    NetworkError(QNetworkReply::NetworkError code, const std::string& description)
        : std::runtime_error(description), code_(code) {}

    QNetworkReply::NetworkError code() const { return code_; }

private:
    QNetworkReply::NetworkError code_;
};

} // namespace talvoro
