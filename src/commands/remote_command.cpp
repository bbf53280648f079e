#include "commands/remote_command.h"

#include <cstdio>

#include "ui/instance_channel.h"

namespace talvoro {

namespace {

bool sendToInstance(const std::string& command) {
    const std::optional<std::string> answer = InstanceChannel::send(command);
    if (!answer)
        fail("Тальворо не запущено — управлять нечем (запусти talvoro)");
    if (*answer != "ok")
        fail(*answer);
    return true;
}

} // namespace

bool runToggle(const CommandContext&) {
    return sendToInstance("toggle");
}

bool runStart(const CommandContext&) {
    return sendToInstance("start");
}

bool runStop(const CommandContext&) {
    return sendToInstance("stop");
}

bool runCancel(const CommandContext&) {
    return sendToInstance("cancel");
}

bool runPasteLast(const CommandContext&) {
    return sendToInstance("paste-last");
}

bool runQuit(const CommandContext&) {
    return sendToInstance("quit");
}

} // namespace talvoro
