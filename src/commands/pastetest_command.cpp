#include "commands/pastetest_command.h"

#include "commands/self_check.h"
#include "insertion/pasteboard_receiver.h"
#include "insertion/paster.h"

#include <QBuffer>
#include <QImage>

#include <algorithm>
#include <cstdio>

namespace talvoro {

namespace {

const char* const selection = "ostrel.pastetest";
const Paster::Focus textArea{"AXTextArea", {}, false, {}};

// Puts the program-wide tunables back after one scenario.
class TunablesGuard {
public:
    TunablesGuard()
        : deadline(Paster::pullDeadline), window(Paster::pasteWindow), eager(Paster::eagerAfter),
          limit(Paster::maxSnapshotBytes) {}
    ~TunablesGuard() {
        Paster::pullDeadline = deadline;
        Paster::pasteWindow = window;
        Paster::eagerAfter = eager;
        Paster::maxSnapshotBytes = limit;
    }

private:
    double deadline, window, eager;
    std::size_t limit;
};

struct Run {
    std::optional<Paster::Result> result; // nothing when deliver threw
    std::optional<std::string> received;
    double seconds = 0;
    std::string error;
};

// One insertion into `ours`, with the receiver reading through `theirs` `readAfter` s after the
// keystroke, or never.
Run insert(Pasteboard& ours, Pasteboard& theirs, const std::string& text,
           std::optional<double> readAfter) {
    PasteboardReceiver receiver(theirs, readAfter.value_or(0));
    Run run;
    PasteClock& clock = systemPasteClock();
    double start = clock.now();
    try {
        run.result = Paster::deliver(text, ours, textArea, [&] {
            if (readAfter)
                receiver.start();
        });
    } catch (const std::exception& error) {
        run.error = error.what();
    }
    run.seconds = clock.now() - start;
    if (readAfter)
        run.received = receiver.received();
    return run;
}

std::string pngOfFilledImage() {
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 90));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

void slowReceiver(SelfCheck& checks, Pasteboard& ours, Pasteboard& theirs) {
    theirs.setString("чужое");
    Run run = insert(ours, theirs, "надиктованное", 0.4);
    checks.check("медленный приёмник получил надиктованное, а не чужое",
                 run.received == "надиктованное", run.received.value_or("ничего") + run.error);
    checks.check("медленному забору выставлена отметка времени",
                 run.result && run.result->takenAfterMs);
    checks.check("чужое содержимое вернулось на место", theirs.string() == "чужое");
    checks.check("возврат отмечен в отчёте", run.result && run.result->restored);
}

void fastReceiver(SelfCheck& checks, Pasteboard& ours, Pasteboard& theirs) {
    theirs.setString("прежний");
    Run run = insert(ours, theirs, "быстро", 0.02);
    checks.check("быстрый приёмник получил надиктованное", run.received == "быстро",
                 run.received.value_or("ничего") + run.error);
    checks.check("возврат не ждал полного срока (" + seconds(run.seconds) + " с из " +
                     seconds(Paster::pullDeadline) + ")",
                 run.seconds < Paster::pullDeadline * 0.7);
    checks.check("прежний текст вернулся", theirs.string() == "прежний");
}

void silence(SelfCheck& checks, Pasteboard& ours, Pasteboard& theirs) {
    TunablesGuard guard;
    Paster::pullDeadline = 0.35;
    theirs.setString("чужое");
    Run run = insert(ours, theirs, "никто не возьмёт", std::nullopt);
    checks.check("не забрали — так и сказано",
                 run.result && run.result->takenNote() == "текст не забрали",
                 run.result ? run.result->takenNote() : run.error);
    checks.check("чужое вернулось и после молчания", theirs.string() == "чужое");
}

void image(SelfCheck& checks, Pasteboard& ours, Pasteboard& theirs) {
    const std::string png = pngOfFilledImage();
    theirs.writeItems({{{"image/png", png}}});
    Run run = insert(ours, theirs, "текст к картинке", 0.25);
    checks.check("при картинке в буфере приёмник получил текст", run.received == "текст к картинке",
                 run.received.value_or("ничего"));
    std::vector<std::string> types = theirs.types();
    checks.check("картинка вернулась в буфер",
                 std::find(types.begin(), types.end(), "image/png") != types.end());
    std::optional<std::string> bytes = theirs.data(0, "image/png", png.size() * 2);
    QImage back;
    if (bytes)
        back.loadFromData(reinterpret_cast<const uchar*>(bytes->data()),
                          static_cast<int>(bytes->size()), "PNG");
    checks.check("картинка читается после возврата", !back.isNull() && back.width() == 24);
}

void eagerServing(SelfCheck& checks, Pasteboard& ours, Pasteboard& theirs) {
    TunablesGuard guard;
    Paster::eagerAfter = 0.1;
    theirs.setString("прежнее");
    checks.check("прежнее при страховке", theirs.string() == "прежнее");
    Run run = insert(ours, theirs, "страховка", 0.3);
    checks.check("после страховки текст всё равно доехал", run.received == "страховка",
                 run.received.value_or("ничего"));
    checks.check("страховка отмечена в отчёте", run.result && run.result->servedEagerly);
    checks.check("чужое вернулось и после страховки", theirs.string() == "прежнее");
}

void sizeLimit(SelfCheck& checks, Pasteboard& ours, Pasteboard& theirs) {
    TunablesGuard guard;
    Paster::pullDeadline = 0.2;
    const std::size_t limit = Paster::maxSnapshotBytes;
    theirs.writeItems({{{"application/octet-stream", std::string(limit, 'x')}}});
    Run exact = insert(ours, theirs, "ровно лимит", std::nullopt);
    std::optional<std::string> back = theirs.data(0, "application/octet-stream", limit);
    checks.check("ровно 20 МиБ сохранены и вернулись",
                 exact.result && !exact.result->skippedAsTooLarge && back && back->size() == limit);

    theirs.writeItems({{{"application/octet-stream", std::string(limit + 1, 'x')}}});
    Run over = insert(ours, theirs, "на байт больше", std::nullopt);
    checks.check("на байт больше лимита — не сохраняли",
                 over.result && over.result->skippedAsTooLarge);
    checks.check("после лишнего байта буфер пуст", theirs.itemCount() == 0 && !theirs.string());
}

} // namespace

bool runPasteTest(const CommandContext&) {
    std::unique_ptr<Pasteboard> ours;
    std::unique_ptr<Pasteboard> theirs;
    try {
        ours = makeSystemPasteboard(selection);
        theirs = makeSystemPasteboard(selection);
    } catch (const PasteboardUnavailable&) {
        fail("нет связи с X-сервером (DISPLAY) — буфер обмена проверить негде");
    }
    SelfCheck checks;
    slowReceiver(checks, *ours, *theirs);
    fastReceiver(checks, *ours, *theirs);
    silence(checks, *ours, *theirs);
    image(checks, *ours, *theirs);
    eagerServing(checks, *ours, *theirs);
    sizeLimit(checks, *ours, *theirs);
    checks.finish("возврат буфера ждёт забора (");
    return true;
}

} // namespace talvoro
