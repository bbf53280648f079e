#include "commands/focusprobe_command.h"

#include "commands/paste_command.h"
#include "insertion/paster.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace talvoro {

bool runFocusProbe(const CommandContext& context) {
    InsertionSeams& seams = systemInsertionSeams();
    if (std::optional<Paster::Failure> problem = Paster::missingPermission();
        problem && problem->code() == Paster::Failure::Code::noDisplay)
        fail("нет связи с X-сервером (DISPLAY) — проверка фокуса не работает");
    if (!seams.focus->available())
        fail("шина специальных возможностей (AT-SPI) недоступна — проверка фокуса не работает");
    int delay = delaySeconds(context.args, 3);
    std::printf("%d с посмотрю, где фокус — переключись куда хотел\n", delay);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(delay));

    std::optional<FrontmostApp> app = seams.frontmost->current();
    Paster::Focus focus = Paster::currentFocus(seams);
    std::string line = "активно: " + (app && app->name ? *app->name : std::string("?"));
    if (focus.missing)
        line += ", фокусного элемента нет";
    else
        line += ", роль: " + focus.role.value_or("не читается") +
                ", подроль: " + focus.subrole.value_or("—");
    std::printf("%s\n", line.c_str());
    std::printf("вердикт: %s\n", Paster::insertionBlocked(focus) ? "некуда вставить" : "вставляем");
    return true;
}

} // namespace talvoro
