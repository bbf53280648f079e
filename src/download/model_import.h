#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "download/model_parts.h"

namespace talvoro {

// A folder whose files are not the model; what() names the file and what is wrong with it.
class ModelImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Copies the parts, named as published, from `from` into the model folder, each hashed as it is
// copied. Only when every part is exact are they moved into place (and remembered as checked),
// so a bad folder leaves the model folder as it was.
void importModel(const std::string& from, const std::string& modelFolder,
                 const std::vector<ModelPart>& parts);

} // namespace talvoro
