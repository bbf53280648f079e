#pragma once

#include <stdexcept>
#include <string>

namespace talvoro {

// Recognition asked for while the model files are not (all) on disk.
class LocalModelMissing : public std::runtime_error {
public:
    explicit LocalModelMissing(std::string detail);

    const std::string& detail() const { return detail_; }

private:
    std::string detail_;
};

} // namespace talvoro
