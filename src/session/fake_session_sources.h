#pragma once

#include "session/session_probe.h"

namespace talvoro {

// A desktop described by a table, for the probe's logic without a compositor.
struct FakeSessionSources : SessionSources {
    std::map<std::string, std::string> environment;
    std::optional<InterfaceVersions> globals;
    std::optional<bool> display; // nothing: no X display; else whether it has XTEST
    std::optional<InterfaceVersions> portal;
    bool atspi = false;
    bool uinput = false;

    std::optional<std::string> env(const std::string& name) override {
        auto found = environment.find(name);
        if (found == environment.end())
            return std::nullopt;
        return found->second;
    }
    std::optional<InterfaceVersions> waylandGlobals() override { return globals; }
    std::optional<bool> x11Display() override { return display; }
    std::optional<InterfaceVersions> portalInterfaces() override { return portal; }
    bool atspiBus() override { return atspi; }
    bool uinputWritable() override { return uinput; }
};

} // namespace talvoro
