#include "app/commands.h"

#include <array>

#include "commands/cuttest_command.h"
#include "commands/deliverytest_command.h"
#include "commands/dictate_command.h"
#include "commands/dictateprobe_command.h"
#include "commands/doctor_command.h"
#include "commands/focusprobe_command.h"
#include "commands/focustest_command.h"
#include "commands/gigaamtest_command.h"
#include "commands/hotkey_command.h"
#include "commands/model_command.h"
#include "commands/offlinetest_command.h"
#include "commands/paste_command.h"
#include "commands/pastetest_command.h"
#include "commands/pilltest_command.h"
#include "commands/remote_command.h"
#include "commands/sampletest_command.h"
#include "commands/settings_command.h"

namespace talvoro {

namespace {

using Kind = CommandEntry::Kind;

// Dispatch order: pilltest, dictation-menubar, hotkey, gigaamtest, offlinetest, cuttest,
// sampletest, deliverytest, dictateprobe, dictate, paste, pastetest, focustest, focusprobe,
// model, doctor, then the remote control of a running instance, settings. The usage text lists them
// in this order too.
const std::array<CommandEntry, 23> commands = {{
    {"pilltest", true, runPilltest, Kind::command,
     "pilltest                 пилюля глазами: рост текста по слову; --shots каталог —\n"
     "                         финальные статусы вставки, PNG каждого; --grow каталог\n"
     "                         \"фраза\" — PNG на каждом слове, видно нарисованное"},
    {"dictation-menubar", true, runTrayApplication, Kind::hidden, ""},
    {"hotkey", false, runHotkey, Kind::command,
     "hotkey [--hotkey X]      проверка глобального хоткея диктовки"},
    {"gigaamtest", false, runGigaamtest, Kind::command,
     "gigaamtest [файл.wav]    распознавание GigaAM на этом компьютере"},
    {"offlinetest", false, runOfflinetest, Kind::selfCheck,
     "offlinetest              что эта сборка не ходит в сеть (--wav файл)"},
    {"cuttest", false, runCuttest, Kind::selfCheck,
     "cuttest                  нарезка речи и чистка мычания"},
    {"sampletest", false, runSampletest, Kind::selfCheck,
     "sampletest               сбор разметки: пара, лимит папки, архив"},
    {"deliverytest", false, runDeliverytest, Kind::selfCheck,
     "deliverytest             доставка текста и очередь при сбое"},
    {"dictateprobe", false, runDictateprobe, Kind::command,
     "dictateprobe             что видит диктовка прямо сейчас: устройство, уровни"},
    {"dictate", true, runDictate, Kind::command,
     "dictate                  голосовой ввод по хоткею (--stub, --stub-fail, --debug)"},
    {"paste", false, runPaste, Kind::command,
     "paste [\"текст\"]          проверка вставки в активное поле (--delay N)"},
    {"pastetest", false, runPasteTest, Kind::selfCheck,
     "pastetest                возврат буфера ждёт забора текста"},
    {"focustest", false, runFocusTest, Kind::selfCheck,
     "focustest                таблица «фокус → вставляем/некуда»"},
    {"focusprobe", false, runFocusProbe, Kind::command,
     "focusprobe               роль фокусного элемента и вердикт вставки (--delay N)"},
    {"model", false, runModel, Kind::command,
     "model import ПАПКА       поставить модель из папки (скачанную на другом компьютере)"},
    {"doctor", false, runDoctor, Kind::command,
     "doctor                   что умеет этот сеанс (X11/Wayland) и каким путём работает\n"
     "                         каждая часть диктовки"},
    {"toggle", false, runToggle, Kind::command,
     "toggle                   нажатие хоткея диктовки в запущенном Тальворо"},
    {"start", false, runStart, Kind::command,
     "start                    хоткей нажат (для привязок рабочего стола)"},
    {"stop", false, runStop, Kind::command,
     "stop                     хоткей отпущен: держал дольше полсекунды — запись кончается"},
    {"cancel", false, runCancel, Kind::command, "cancel                   Esc: отменить запись"},
    {"paste-last", false, runPasteLast, Kind::command,
     "paste-last               вставить последнюю диктовку (запущенное Тальворо)"},
    {"quit", false, runQuit, Kind::command, "quit                     закрыть запущенное Тальворо"},
    {"settings", true, runSettings, Kind::command,
     "settings                 окно настроек (в запущенном Тальворо или отдельно)"},
}};

} // namespace

const CommandEntry* findCommand(const std::string& word) {
    for (const auto& entry : commands)
        if (word == entry.name)
            return &entry;
    return nullptr;
}

bool runVoiceCommand(const std::string& command, const CommandContext& context) {
    const CommandEntry* entry = findCommand(command);
    return entry != nullptr && entry->run(context);
}

std::string commandUsage() {
    std::string lines[2];
    for (const auto& entry : commands) {
        if (entry.kind == Kind::hidden)
            continue;
        std::string& list = lines[entry.kind == Kind::selfCheck ? 1 : 0];
        std::string usage = entry.usage;
        for (std::size_t at = 0; at <= usage.size();) {
            const std::size_t end = std::min(usage.find('\n', at), usage.size());
            list += "  " + usage.substr(at, end - at) + "\n";
            at = end + 1;
        }
    }
    return usageText(lines[0], lines[1]);
}

} // namespace talvoro
