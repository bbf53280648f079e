#include "dictation/text_polishing.h"

namespace talvoro {

PolishOutcome NoPolish::polished(const std::string&, std::stop_token) {
    return PolishOutcome{std::nullopt, "правки стилем в этой сборке нет", 0};
}

std::shared_ptr<TextPolishing> makePolisher(const Config&) {
    return std::make_shared<NoPolish>();
}

} // namespace talvoro
