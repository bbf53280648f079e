#include "recognition/missing_local_model.h"

#include "recognition/local_model_missing.h"

namespace talvoro {

std::string MissingLocalModel::transcribe(const std::string&, std::stop_token) {
    throw LocalModelMissing("части модели не доехали");
}

} // namespace talvoro
