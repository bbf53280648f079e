#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "download/model_parts.h"

namespace talvoro {

// A folder whose files are not the model; what() names the file and what is wrong with it.
class ModelImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Bytes copied so far of all the parts' bytes; called on the importing thread.
using ImportProgress = std::function<void(std::int64_t copied, std::int64_t total)>;

// Copies the parts, named as published, from `from` into the model folder, each hashed as it is
// copied, under names of this import's own (never a download's partial file). Only when every
// part is exact are they moved into place (and remembered as checked), so a bad folder or a stop
// request leaves the model folder as it was.
void importModel(const std::string& from, const std::string& modelFolder,
                 const std::vector<ModelPart>& parts, const ImportProgress& progress = {},
                 std::stop_token stop = {});

} // namespace talvoro
