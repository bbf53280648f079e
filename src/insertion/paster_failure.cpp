#include "insertion/paster_failure.h"

namespace talvoro::Paster {

namespace {

const char* describe(Failure::Code code) {
    switch (code) {
    case Failure::Code::noPermission:
        return "X-сервер не даёт нажимать клавиши (нет расширения XTEST) — без него вставка не "
               "сработает";
    case Failure::Code::emptyText:
        return "пустой текст — вставлять нечего";
    case Failure::Code::eventCreationFailed:
        return "не удалось создать событие клавиатуры";
    case Failure::Code::noDisplay:
        return "нет связи с X-сервером (DISPLAY) — вставка не сработает";
    }
    return "";
}

} // namespace

Failure::Failure(Code code) : std::runtime_error(describe(code)), code_(code) {}

} // namespace talvoro::Paster
