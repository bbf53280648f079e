#pragma once

#include <stdexcept>
#include <string>

namespace talvoro {

// A failure of the local recogniser that waiting will not mend: a model file it cannot use,
// or a recording in a format it does not take. what() names the file.
class LocalRecognitionError : public std::runtime_error {
public:
    enum class Kind { brokenModel, unfitRecording };

    static LocalRecognitionError brokenModel(const std::string& file, const std::string& detail);
    static LocalRecognitionError unfitRecording(const std::string& file, const std::string& detail);

    Kind kind() const { return kind_; }
    const std::string& file() const { return file_; } // the full path
    const std::string& detail() const { return detail_; }

private:
    LocalRecognitionError(Kind kind, std::string file, std::string detail,
                          const std::string& description);

    Kind kind_;
    std::string file_;
    std::string detail_;
};

} // namespace talvoro
