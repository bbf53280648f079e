#pragma once

#include <functional>
#include <string>

#include "download/model_parts.h"

namespace talvoro {

// Whether a model file in the folder is exactly its part. Hashing the encoder takes a while, so
// a verdict is kept beside the files (".verified": name, size, modification time and hash per
// line) and a file whose size and time still match it is not read again.
class PartCheck {
public:
    // Lower-case hex SHA-256 of a file, empty when it cannot be read.
    using Hasher = std::function<std::string(const std::string& path)>;
    static constexpr const char* verdictFile = ".verified";

    explicit PartCheck(std::string folder, Hasher hasher = {});

    // The file is there with the part's size and hash.
    bool present(const ModelPart& part) const;
    // The file now in place was checked while it was written: remember it.
    void remember(const ModelPart& part) const;

    static std::string sha256(const std::string& path);

private:
    struct Stamp {
        long long size = -1;
        long long modified = 0;
    };
    std::string path(const ModelPart& part) const;
    Stamp stamp(const ModelPart& part) const;
    bool remembered(const ModelPart& part, const Stamp& stamp) const;
    void record(const ModelPart& part, const Stamp& stamp) const;

    const std::string folder_;
    const Hasher hasher_;
};

} // namespace talvoro
