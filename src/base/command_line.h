#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/build_constants.h"

namespace talvoro {

// The arguments after the command word.
class CommandLine {
public:
    // The options that take no value; they decide how positional arguments are found.
    static const std::vector<std::string>& switches();

    CommandLine() = default;
    explicit CommandLine(std::vector<std::string> args) : args_(std::move(args)) {}

    const std::vector<std::string>& args() const { return args_; }

    // The element after the first "--name", whatever it is; nothing when absent or last.
    std::optional<std::string> option(std::string_view name) const;
    std::optional<std::string> positionalArgument() const;
    std::vector<std::string> positionalArguments() const;
    // A dictation switch such as "--stub": some element equals it exactly.
    bool has(std::string_view element) const;

private:
    std::vector<std::string> args_;
};

struct ParsedCommand {
    std::string command;
    CommandLine args;
};

// Without arguments, or when the first begins with "-psn" (a desktop launch), every
// argument is dropped and the command is the fallback. Otherwise the first argument is it.
ParsedCommand cliCommand(const std::string& fallback, const std::vector<std::string>& processArgs);

// "--log path": standard output and error go to the file (created, emptied, 0644), with
// line-buffered output. A file that cannot be opened changes nothing.
void applyLogOption(const CommandLine& args);

// What a command ends with when a precondition is missing; main prints "ошибка: " + what().
class CommandFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
[[noreturn]] void fail(const std::string& message);

// Ends a command with this exit status and no further output.
struct ExitRequest {
    int status;
};

// "Тальворо 0.1.0 — …" with the two lists of commands (each line ending in a line feed) in
// their places; the whole ends in one line feed.
std::string usageText(std::string_view commandLines, std::string_view checkLines);

std::string clock(double seconds);
std::string bar(float level);

} // namespace talvoro
