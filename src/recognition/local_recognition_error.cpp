#include "recognition/local_recognition_error.h"

namespace talvoro {

LocalRecognitionError::LocalRecognitionError(Kind kind, std::string file, std::string detail,
                                             const std::string& description)
    : std::runtime_error(description), kind_(kind), file_(std::move(file)),
      detail_(std::move(detail)) {}

LocalRecognitionError LocalRecognitionError::brokenModel(const std::string& file,
                                                         const std::string& detail) {
    return LocalRecognitionError(Kind::brokenModel, file, detail,
                                 "файл модели не годится: " + file + " — " + detail);
}

LocalRecognitionError LocalRecognitionError::unfitRecording(const std::string& file,
                                                            const std::string& detail) {
    return LocalRecognitionError(Kind::unfitRecording, file, detail,
                                 "запись не распознать: " + file + " — " + detail);
}

} // namespace talvoro
