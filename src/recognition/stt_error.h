#pragma once

#include <stdexcept>
#include <string>

namespace talvoro {

// The recognition error every engine throws; what() is the sentence the user reads.
class STTError : public std::runtime_error {
public:
    enum class Kind { noKey, unreachable, http, badPayload };

    static STTError noKey(const std::string& text);
    static STTError unreachable(const std::string& text);
    static STTError http(int statusCode, const std::string& body);
    static STTError badPayload(const std::string& text);

    Kind kind() const { return kind_; }
    // The text payload of noKey, unreachable and badPayload; the body of http.
    const std::string& detail() const { return detail_; }
    int statusCode() const { return statusCode_; } // 0 unless http

    // Whether the same recording may succeed later without the user doing anything.
    bool isTransient() const;

private:
    STTError(Kind kind, std::string detail, int statusCode, const std::string& description);

    Kind kind_;
    std::string detail_;
    int statusCode_;
};

} // namespace talvoro
