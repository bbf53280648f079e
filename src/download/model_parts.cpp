#include "download/model_parts.h"

#include <fstream>
#include <sstream>

namespace talvoro {

const std::vector<ModelPart>& publishedModelParts() {
    // istupakov/gigaam-v3-onnx at the pinned revision of Config::defaultModelSources.
    static const std::vector<ModelPart> parts = {
        {"v3_e2e_rnnt_encoder.int8.onnx", "gigaam-v3-encoder.onnx", 224570477,
         "4e0e076a6076cd110277e529b8ac8f32cd5297f7fbebad5341ae8ddb7d00817b"},
        {"v3_e2e_rnnt_decoder.int8.onnx", "gigaam-v3-decoder.onnx", 1159170,
         "89014e134865615b91e037157e46e389b1271e6072460efc010ea08e61e23146"},
        {"v3_e2e_rnnt_joint.int8.onnx", "gigaam-v3-joint.onnx", 687791,
         "ade116563dbf66e503b0994efab6b5861412743e52bf31c39fc3fffa3783d5d1"},
        {"v3_e2e_rnnt_vocab.txt", "gigaam-v3-vocab.txt", 13354,
         "39abae20e692998290c574e606f11a9edef2902a1995463fcff63d1490cf22b7"},
    };
    return parts;
}

std::vector<ModelPart> modelParts(const Config& config) {
    if (const auto manifest = config.text("MODEL_MANIFEST"))
        return readModelManifest(Config::expand(*manifest));
    return publishedModelParts();
}

std::vector<ModelPart> readModelManifest(const std::string& path) {
    std::ifstream file(path);
    if (!file)
        throw ModelManifestError("не читается список файлов модели " + path);
    std::vector<ModelPart> parts;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        ModelPart part;
        if (!(words >> part.remoteName) || part.remoteName.starts_with('#'))
            continue;
        std::string rest;
        const bool hex =
            (words >> part.bytes >> part.sha256) && part.sha256.size() == 64 &&
            part.sha256.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        if (!hex || part.bytes < 0 || (words >> rest) ||
            part.remoteName.find('/') != std::string::npos)
            throw ModelManifestError(path + ", строка " + std::to_string(number) +
                                     ": нужно «имя размер sha256»");
        for (char& c : part.sha256)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        part.localName = part.remoteName;
        for (const ModelPart& published : publishedModelParts())
            if (published.remoteName == part.remoteName)
                part.localName = published.localName;
        parts.push_back(std::move(part));
    }
    if (parts.empty())
        throw ModelManifestError("в списке файлов модели " + path + " нет ни одного файла");
    return parts;
}

} // namespace talvoro
