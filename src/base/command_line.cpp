#include "base/command_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace talvoro {

const std::vector<std::string>& CommandLine::switches() {
    static const std::vector<std::string> list = {
        "--no-process", "--no-live",   "--dry-run",   "--global",   "--send",     "--two",
        "--yes",        "--diarize",   "--all",       "--habit",    "--no-habit", "--no-due",
        "--no-defer",   "--no-repeat", "--no-parent", "--no-commit"};
    return list;
}

std::optional<std::string> CommandLine::option(std::string_view name) const {
    const std::string wanted = "--" + std::string(name);
    auto it = std::find(args_.begin(), args_.end(), wanted);
    if (it == args_.end() || it + 1 == args_.end())
        return std::nullopt;
    return *(it + 1);
}

std::vector<std::string> CommandLine::positionalArguments() const {
    const auto& sw = switches();
    std::vector<std::string> found;
    for (size_t i = 0; i < args_.size(); ++i) {
        const std::string& a = args_[i];
        if (a.empty() || a[0] != '-') {
            found.push_back(a);
        } else if (std::find(sw.begin(), sw.end(), a) == sw.end()) {
            if (i + 1 < args_.size() && (args_[i + 1].empty() || args_[i + 1][0] != '-'))
                ++i; // the option's value
        }
    }
    return found;
}

std::optional<std::string> CommandLine::positionalArgument() const {
    auto all = positionalArguments();
    if (all.empty())
        return std::nullopt;
    return all.front();
}

bool CommandLine::has(std::string_view element) const {
    return std::find(args_.begin(), args_.end(), element) != args_.end();
}

ParsedCommand cliCommand(const std::string& fallback, const std::vector<std::string>& processArgs) {
    ParsedCommand parsed;
    if (processArgs.empty() || processArgs.front().rfind("-psn", 0) == 0) {
        parsed.command = fallback;
    } else {
        parsed.command = processArgs.front();
        parsed.args = CommandLine({processArgs.begin() + 1, processArgs.end()});
    }
    applyLogOption(parsed.args);
    return parsed;
}

void applyLogOption(const CommandLine& args) {
    auto path = args.option("log");
    if (!path)
        return;
    int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

void fail(const std::string& message) {
    throw CommandFailure(message);
}

std::string usageText(std::string_view commandLines, std::string_view checkLines) {
    return std::string("Тальворо ") + version +
           " — диктовка по хоткею, распознавание на этом компьютере\n"
           "команда: talvoro\n"
           "\n"
           "Запуск без аргументов (двойным кликом по приложению) — меню в строке состояния.\n"
           "\n"
           "Команды:\n" +
           std::string(commandLines) +
           "\n"
           "Самопроверки:\n" +
           std::string(checkLines) +
           "\n"
           "Общие опции:\n"
           "  --env путь               другой файл настроек\n"
           "  --log путь               вывод в файл (нужно, когда терминала нет: запуск из меню\n"
           "                           приложений или при входе в систему)\n";
}

std::string clock(double seconds) {
    long long s = seconds > 0 ? static_cast<long long>(seconds) : 0;
    char text[48];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld", s / 60, s % 60);
    return text;
}

std::string bar(float level) {
    // Out-of-range levels keep their meaning without overflowing the rounding.
    double clamped =
        std::isfinite(level) ? std::clamp(static_cast<double>(level), -100.0, 100.0) : 0;
    long n = std::lround(clamped * 10);
    std::string out;
    for (long i = 0; i < std::min(n, 10L); ++i)
        out += "█";
    for (long i = 0; i < std::max(10 - n, 0L); ++i)
        out += "·";
    return out;
}

} // namespace talvoro
