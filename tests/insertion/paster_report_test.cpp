#include "insertion/paster_report.h"

#include <gtest/gtest.h>

namespace talvoro {
namespace {

using Lines = std::vector<std::string>;

Paster::Result pasted(std::optional<std::string> app) {
    Paster::Result result;
    result.outcome = Paster::Outcome::pasted(std::move(app));
    result.previousTypes = {"UTF8_STRING", "image/png"};
    result.restored = true;
    result.takenAfterMs = 37;
    return result;
}

TEST(PasterReport, PastedResultLines) {
    EXPECT_EQ(Paster::reportLines(pasted("Kate"), "раз  два три ", "до", "до"),
              (Lines{"вставлено в Kate, слов: 3", "буфер до вставки: UTF8_STRING, image/png",
                     "забор текста: забрали за 37 мс", "буфер восстановлен: да, совпадает"}));

    Paster::Result result = pasted(std::nullopt);
    result.previousTypes.clear();
    EXPECT_EQ(Paster::reportLines(result, "слово", std::nullopt, std::nullopt),
              (Lines{"вставлено, слов: 1", "буфер до вставки: пусто",
                     "забор текста: забрали за 37 мс", "буфер восстановлен: да, совпадает"}))
        << "both absent count as equal";
    EXPECT_EQ(Paster::reportLines(result, "x", "до", std::nullopt).back(),
              "буфер восстановлен: текст был не строкой либо изменился");
}

TEST(PasterReport, TheFirstApplicableClipboardLineWins) {
    Paster::Result result = pasted("Kate");
    result.overwrittenByOthers = true;
    result.skippedAsTooLarge = true;
    result.restoreError = "связь с X-сервером оборвалась";
    EXPECT_EQ(Paster::reportLines(result, "x", "a", "a").back(),
              "буфер: вернуть прежнее не удалось — связь с X-сервером оборвалась");
    result.restoreError.reset();
    EXPECT_EQ(Paster::reportLines(result, "x", "a", "a").back(),
              "буфер: содержимое было тяжелее лимита — не сохраняли, за собой убрали");
    result.skippedAsTooLarge = false;
    EXPECT_EQ(Paster::reportLines(result, "x", "a", "a").back(),
              "буфер: после вставки в него записал кто-то ещё — не трогали");
}

TEST(PasterReport, NowhereAndFailureLines) {
    Paster::Result nowhere;
    nowhere.servedEagerly = true;
    EXPECT_EQ(Paster::reportLines(nowhere, "текст", "a", "текст"),
              (Lines{"некуда вставить: фокусного поля нет — текст остался в буфере, Ctrl+V "
                     "вставит его",
                     "забор текста: выложен данными, забор не отследить"}));

    EXPECT_EQ(Paster::failureLines(Paster::Failure::eventCreationFailed(), "a", "a"),
              (Lines{"вставка не удалась: не удалось создать событие клавиатуры",
                     "буфер после сбоя: на месте"}));
    EXPECT_EQ(Paster::failureLines(Paster::Failure::eventCreationFailed(), "a", "b").back(),
              "буфер после сбоя: ИЗМЕНИЛСЯ");
}

} // namespace
} // namespace talvoro
