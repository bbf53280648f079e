#include "app/commands.h"

#include <array>

#include "diagnostics/cuttest_command.h"
#include "diagnostics/deliverytest_command.h"
#include "diagnostics/dictateprobe_command.h"
#include "diagnostics/focusprobe_command.h"
#include "diagnostics/focustest_command.h"
#include "diagnostics/gigaamtest_command.h"
#include "diagnostics/hotkey_command.h"
#include "diagnostics/paste_command.h"
#include "diagnostics/pastetest_command.h"
#include "diagnostics/pilltest_command.h"
#include "diagnostics/sampletest_command.h"

namespace talvoro {

namespace {

// Dispatch order: pilltest, dictation-menubar, hotkey, gigaamtest, offlinetest, cuttest,
// sampletest, deliverytest, dictateprobe, dictate, paste, pastetest, focustest, focusprobe.
const std::array<CommandEntry, 11> commands = {{
    {"pilltest", true, runPilltest},
    {"hotkey", false, runHotkey},
    {"gigaamtest", false, runGigaamtest},
    {"cuttest", false, runCuttest},
    {"sampletest", false, runSampletest},
    {"deliverytest", false, runDeliverytest},
    {"dictateprobe", false, runDictateprobe},
    {"paste", false, runPaste},
    {"pastetest", false, runPasteTest},
    {"focustest", false, runFocusTest},
    {"focusprobe", false, runFocusProbe},
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

} // namespace talvoro
