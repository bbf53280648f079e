#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/config.h"

namespace talvoro {

// One downloadable model file: its published name, the name it has in the model folder, and
// what it must be exactly.
struct ModelPart {
    std::string remoteName;
    std::string localName;
    std::int64_t bytes = 0;
    std::string sha256; // lower-case hex
};

// A manifest that cannot be used; what() names the file and the line.
class ModelManifestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The four files of the pinned GigaAM export, in download order.
const std::vector<ModelPart>& publishedModelParts();

// MODEL_MANIFEST's file when set, else the published parts. A manifest holds lines
// "name size sha256" (names as published; empty lines and lines starting with # are skipped);
// a published name keeps its local name, any other name is used as it is.
std::vector<ModelPart> modelParts(const Config& config);
std::vector<ModelPart> readModelManifest(const std::string& path);

} // namespace talvoro
