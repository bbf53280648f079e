#include "insertion/paster_report.h"

namespace talvoro::Paster {

int wordCount(const std::string& text) {
    int count = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            ++count;
        start = end + 1;
    }
    return count;
}

std::vector<std::string> reportLines(const Result& result, const std::string& text,
                                     const std::optional<std::string>& textBefore,
                                     const std::optional<std::string>& textAfter) {
    std::vector<std::string> lines;
    const std::string words = std::to_string(wordCount(text));
    if (result.outcome.kind() == Outcome::Kind::inClipboard)
        lines.push_back("текст в буфере — вставь Ctrl+V");
    else if (!result.outcome.isPasted())
        lines.push_back(
            "некуда вставить: фокусного поля нет — текст остался в буфере, Ctrl+V вставит его");
    else if (result.outcome.app())
        lines.push_back("вставлено в " + *result.outcome.app() + ", слов: " + words);
    else
        lines.push_back("вставлено, слов: " + words);

    if (result.outcome.isPasted()) {
        std::string types;
        for (const auto& type : result.previousTypes)
            types += (types.empty() ? "" : ", ") + type;
        lines.push_back("буфер до вставки: " + (types.empty() ? std::string("пусто") : types));
    }
    lines.push_back("забор текста: " + result.takenNote());

    if (result.restoreError)
        lines.push_back("буфер: вернуть прежнее не удалось — " + *result.restoreError);
    else if (result.skippedAsTooLarge)
        lines.push_back("буфер: содержимое было тяжелее лимита — не сохраняли, за собой убрали");
    else if (result.overwrittenByOthers)
        lines.push_back("буфер: после вставки в него записал кто-то ещё — не трогали");
    else if (result.restored)
        lines.push_back(
            std::string("буфер восстановлен: ") +
            (textBefore == textAfter ? "да, совпадает" : "текст был не строкой либо изменился"));
    return lines;
}

std::vector<std::string> failureLines(const std::exception& error,
                                      const std::optional<std::string>& textBefore,
                                      const std::optional<std::string>& textAfter) {
    return {std::string("вставка не удалась: ") + error.what(),
            std::string("буфер после сбоя: ") +
                (textBefore == textAfter ? "на месте" : "ИЗМЕНИЛСЯ")};
}

} // namespace talvoro::Paster
