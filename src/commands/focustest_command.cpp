#include "commands/focustest_command.h"

#include "commands/self_check.h"
#include "insertion/paster.h"

namespace talvoro {

bool runFocusTest(const CommandContext&) {
    using Paster::Focus;
    using Paster::insertionBlocked;
    SelfCheck checks;
    checks.check("нет фокусного элемента — вставляем", !insertionBlocked(Focus{{}, {}, true, {}}));
    checks.check("AXWindow — некуда вставить",
                 insertionBlocked(Focus{"AXWindow", "AXStandardWindow", false, {}}));
    for (const char* role : {"AXApplication", "AXButton", "AXGroup"})
        checks.check(std::string(role) + " — некуда вставить",
                     insertionBlocked(Focus{role, {}, false, {}}));
    for (const char* role : {"AXTextField", "AXTextArea", "AXSearchField", "AXComboBox",
                             "AXWebArea", "AXScrollArea", "AXCell"})
        checks.check(std::string(role) + " — вставляем",
                     !insertionBlocked(Focus{role, {}, false, {}}));
    for (const char* role : {"AXUnknown", "AXНечто"})
        checks.check(std::string(role) + " — вставляем (незнакомое — поле)",
                     !insertionBlocked(Focus{role, {}, false, {}}));
    checks.check("роль не читается — вставляем", !insertionBlocked(Focus{{}, {}, false, {}}));
    checks.finish("таблица фокуса сходится (");
    return true;
}

} // namespace talvoro
