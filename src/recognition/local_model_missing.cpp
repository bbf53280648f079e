#include "recognition/local_model_missing.h"

namespace talvoro {

LocalModelMissing::LocalModelMissing(std::string detail)
    : std::runtime_error("модель не скачана: " + detail), detail_(std::move(detail)) {}

} // namespace talvoro
