#include "commands/deliverytest_command.h"

#include <stdexcept>

#include "commands/self_check.h"
#include "dictation/dictation_failure.h"
#include "recognition/network_error.h"
#include "recognition/stt_error.h"

namespace talvoro {

namespace {

std::string describe(const DictationFailure& failure) {
    return std::string(failure.isTransient() ? "временное" : "постоянное") + ", «" +
           failure.text() + "», «" + failure.hint() + "»";
}

} // namespace

bool runDeliverytest(const CommandContext&) {
    SelfCheck self;

    const DictationFailure noKey(STTError::noKey("записи `kestrow-key` нет в связке"));
    self.check("нет ключа — постоянное", !noKey.isTransient(), describe(noKey));
    self.check("нет ключа — не «нет сервера»", noKey.text() != "нет сервера", describe(noKey));
    self.check("нет ключа — про ключ", noKey.text().find("ключ") != std::string::npos,
               describe(noKey));
    self.check("в меню — с подробностью", noKey.hint().find("связке") != std::string::npos,
               describe(noKey));

    const DictationFailure unreachable(STTError::unreachable("Could not connect to the server."));
    self.check("сервер недоступен — временное", unreachable.isTransient(), describe(unreachable));
    self.check("сервер недоступен — «нет сервера»", unreachable.text() == "нет сервера",
               describe(unreachable));

    const DictationFailure badPayload(STTError::badPayload("ответ не JSON"));
    self.check("неразбираемый ответ — постоянное", !badPayload.isTransient(), describe(badPayload));

    const DictationFailure lost(
        NetworkError(QNetworkReply::RemoteHostClosedError, "соединение оборвалось"));
    self.check("обрыв сети — временное", lost.isTransient() && lost.text() == "нет сети",
               describe(lost));

    const DictationFailure foreign(std::runtime_error("диск полон"));
    self.check("незнакомая ошибка — временное",
               foreign.isTransient() && foreign.text() == "не вышло" &&
                   foreign.hint() == "диск полон",
               describe(foreign));

    self.check("STTError.noKey не ретраится", !STTError::noKey("нет").isTransient());
    self.check("STTError 401 не ретраится", !STTError::http(401, "").isTransient());

    return self.finish("разбор сбоев доставки сходится (");
}

} // namespace talvoro
