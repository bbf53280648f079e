// The delivery half of the dictation controller: recognition, insertion, failures, the
// retry queue and style edits.
#include "dictation/dictation_controller.h"

#include <QString>

#include <filesystem>

#include "audio/wav_reader.h"
#include "base/journal.h"
#include "base/main_thread.h"
#include "cleanup/name_dict.h"
#include "dictation/dictation_work.h"
#include "insertion/insert_shape.h"

namespace fs = std::filesystem;

namespace talvoro {

namespace {

// The user's replacements, then white space and line ends off both ends.
std::string withReplacements(const std::string& raw, const std::string& dictFile) {
    return NameDict::load(dictFile).apply(QString::fromStdString(raw)).trimmed().toStdString();
}

std::string reasonOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "неизвестная ошибка";
    }
}

// A file that does not read as audio never will: it is set aside rather than retried.
void requireReadable(const std::string& wav) {
    try {
        const WAVReader reader(wav, true);
    } catch (const std::exception& error) {
        throw UnreadableRecording(wav, error.what());
    }
}

// A retry comes when the user may be anywhere: only a focused text field takes its text, and
// never a password field, whose role is an ordinary field's (the subrole names it).
bool takesText(const Paster::Focus& focus) {
    if (focus.subrole == "password text")
        return false;
    return focus.role && (*focus.role == "AXTextField" || *focus.role == "AXTextArea" ||
                          *focus.role == "AXComboBox");
}

// No press woke the focus reporting before a retry: it is woken and asked again once.
Paster::Focus retryFocus(InsertionSeams& desktop) {
    Paster::Focus focus = Paster::currentFocus(desktop);
    if (focus.missing && Paster::wakeFocusReporting(desktop)) {
        (desktop.clock ? *desktop.clock : systemPasteClock()).pause(0.25);
        focus = Paster::currentFocus(desktop);
    }
    return focus;
}

// A recording whose text reached the field (or was left for a hand paste) goes at once, on the
// paste thread: a program quitting meanwhile never runs the main thread's bookkeeping again,
// and the next start would paste it a second time.
void removeDelivered(const std::string& wav, const Paster::Result& result) {
    if (result.unclaimed())
        return;
    std::error_code ignored;
    fs::remove(wav, ignored);
}

// Where a retry's text went: nowhere at all (`heldBack`) while no text field is seen, else
// wherever the paste took it.
struct RetryPaste {
    Paster::Result result;
    bool heldBack = false;
};

RetryPaste pasteRetry(const std::string& text, InsertionSeams& desktop) {
    if (Paster::Focus focus = retryFocus(desktop); !takesText(focus)) {
        RetryPaste held{{}, true};
        held.result.focus = std::move(focus);
        return held;
    }
    return {Paster::pasteOrLeave(text, desktop), false};
}

void recognisedLine(const std::string& identity, const std::string& text) {
    Journal::shared().note("диктовка: распознано — " + identity +
                           ", слов: " + std::to_string(wordCount(text)));
}

} // namespace

void DictationController::finishStream(const std::string& url) {
    DictationWork::recognise([weak = weak_from_this(), stream = streamer, url, samples = samples,
                              engine = engine, identity = identity, dictFile = config.dictFile] {
        std::optional<std::string> text = stream->finish();
        if (text) {
            recognisedLine(identity, *text);
            samples->keep(url, *text, "поток на этом компьютере", engine, identity);
            text = withReplacements(*text, dictFile);
        }
        onMainThreadWith(
            weak, [url, text](DictationController& self) { self.streamFinished(url, text); });
    });
}

void DictationController::streamFinished(const std::string& url,
                                         const std::optional<std::string>& text) {
    if (!text) {
        deliver(url, false);
        return;
    }
    note("вставка из стрима");
    recognised(url, false, *text);
}

void DictationController::deliver(const std::string& url, bool fromQueue) {
    DictationWork::recognise([weak = weak_from_this(), transcriber = transcriber, url, fromQueue,
                              samples = samples, engine = engine, identity = identity,
                              dictFile = config.dictFile,
                              stop = fromQueue ? retryStop.get_token() : lifetime.get_token()] {
        std::string raw;
        try {
            requireReadable(url);
            raw = transcriber->transcribe(url, stop);
        } catch (...) {
            onMainThreadWith(weak, [error = std::current_exception(), url,
                                    fromQueue](DictationController& self) {
                self.note("не доехало: " + reasonOf(error));
                self.handleFailure(error, url, fromQueue);
            });
            return;
        }
        recognisedLine(identity, raw);
        samples->keep(url, raw, fromQueue ? "очередь" : "файл", engine, identity);
        const std::string text = withReplacements(raw, dictFile);
        onMainThreadWith(weak, [url, fromQueue, text](DictationController& self) {
            self.recognised(url, fromQueue, text);
        });
    });
}

void DictationController::recognised(const std::string& url, bool fromQueue,
                                     const std::string& text) {
    if (yielded(fromQueue))
        return; // still queued: the next retry recognises it again
    // A text that shapes to nothing (a lone full stop) would fail the paste and be queued
    // and retried for ever.
    const std::string shaped = InsertShape::trimmed(text);
    if (shaped.empty()) {
        drop(url, fromQueue);
        show(State::failed("ничего не распознано"));
        return;
    }
    if (std::exchange(polishMode, false) && !fromQueue) {
        beginPolish(text, url, fromQueue);
        return;
    }
    insertFinal(shaped, shaped, url, fromQueue);
}

void DictationController::insertFinal(const std::string& text, const std::string& raw,
                                      const std::string& wav, bool fromQueue) {
    if (sink && sink(text)) {
        delivered(wav, fromQueue, text, raw, std::nullopt);
        return;
    }
    DictationWork::insert([weak = weak_from_this(), seams = insertion, text, raw, wav, fromQueue] {
        std::optional<Paster::Result> result;
        std::exception_ptr error;
        bool heldBack = false;
        try {
            InsertionSeams& desktop = seams ? *seams : systemInsertionSeams();
            if (fromQueue) {
                RetryPaste retry = pasteRetry(text, desktop);
                result = std::move(retry.result);
                heldBack = retry.heldBack;
            } else {
                result = Paster::pasteOrLeave(text, desktop);
            }
            if (!heldBack)
                removeDelivered(wav, *result);
        } catch (...) {
            error = std::current_exception();
        }
        onMainThreadWith(
            weak, [wav, fromQueue, text, raw, result, heldBack, error](DictationController& self) {
                if (result)
                    self.delivered(wav, fromQueue, text, raw, result, heldBack);
                else
                    self.pasteFailed(wav, fromQueue, error);
            });
    });
}

void DictationController::delivered(const std::string& wav, bool fromQueue, const std::string& text,
                                    const std::string& raw,
                                    const std::optional<Paster::Result>& result, bool heldBack) {
    const bool quietly = yielded(fromQueue); // a recording has begun meanwhile
    if (heldBack && quietly)
        return; // still queued, and retried after that recording
    lastInserted_ = text;
    lastRaw_ = raw;
    keptRecording.reset();
    if (heldBack || (result && result->unclaimed())) {
        // Not in the field: the recording stays (a queued one in the queue), and the text waits
        // for the next press.
        keptRecording = wav;
        // A queued one retried blindly every 20 s would keep pressing Ctrl+V into whatever has
        // the focus; the next recording lets the queue go on.
        if (fromQueue)
            blocked = true;
    } else {
        drop(wav, fromQueue);
    }
    showInsertion(result, text, quietly);
}

void DictationController::pasteFailed(const std::string& wav, bool fromQueue,
                                      const std::exception_ptr& error) {
    note("вставка не удалась: " + reasonOf(error));
    if (yielded(fromQueue))
        return;
    if (!fromQueue) {
        try {
            queue.enqueue(wav);
        } catch (const std::exception&) {
            // It stays in the dictation folder; the next start queues it.
        }
    }
    const DictationFailure failure(error);
    if (failure.isTransient()) {
        show(State::queued(pendingCount()));
        return;
    }
    waitForUser(failure);
}

// Only the user can mend it: the queue waits for the next recording. The pill says so only for
// a moment, and a desktop without a tray has no menu to show what to do: the journal keeps it.
void DictationController::waitForUser(const DictationFailure& failure) {
    lastFailure_ = failure;
    blocked = true;
    Journal::shared().note("диктовка: " + failure.hint());
    show(State::failed(failure.text()));
}

void DictationController::showInsertion(const std::optional<Paster::Result>& result,
                                        const std::string& text, bool quietly) {
    const int words = wordCount(text);
    if (!result) {
        lastInsertNote_ = "в панель занесения";
        lastInsertIcon_.reset();
        if (!quietly)
            show(State::inserted(words, std::nullopt));
        return;
    }
    State final = State::nowhere();
    if (result->unclaimed()) {
        const std::optional<std::string>& app = result->outcome.app();
        lastInsertNote_ = "не дошло" + (app ? " до " + *app : std::string()) +
                          " · фокус: " + result->focus.note() + " · " + result->takenNote();
        lastInsertIcon_.reset();
    } else if (result->outcome.isPasted()) {
        const std::optional<std::string>& app = result->outcome.app();
        lastInsertNote_ = (app ? "в " + *app : std::string("вставлено")) +
                          " · фокус: " + result->focus.note() + " · " + result->takenNote();
        lastInsertIcon_ = result->appIcon;
        final = State::inserted(words, app);
    } else if (result->outcome.kind() == Paster::Outcome::Kind::inClipboard) {
        lastInsertNote_ = "текст в буфере: вставить нечем";
        lastInsertIcon_.reset();
        final = State::inClipboard();
    } else {
        lastInsertNote_ = "курсор не в поле · фокус: " + result->focus.note();
        lastInsertIcon_.reset();
    }
    Journal::shared().note("диктовка: вставка — " + *lastInsertNote_ +
                           ", слов: " + std::to_string(words));
    if (result->restoreError)
        Journal::shared().note("диктовка: прежний буфер не вернулся — " + *result->restoreError);
    if (!result->droppedTypes.empty()) {
        std::string types;
        for (const std::string& type : result->droppedTypes)
            types += (types.empty() ? "" : ", ") + type;
        Journal::shared().note("диктовка: прежний буфер вернулся без " + types + " — вместе с " +
                               "ними он больше " + std::to_string(Paster::maxSnapshotBytes >> 20) +
                               " МиБ");
    }
    if (!quietly)
        show(final);
}

void DictationController::handleFailure(std::exception_ptr error, const std::string& wav,
                                        bool fromQueue) {
    const DictationFailure failure(error);
    if (yielded(fromQueue)) {
        if (failure.isUnreadable())
            setAside(wav, failure);
        return;
    }
    lastFailure_ = failure;
    if (failure.isUnreadable()) {
        setAside(wav, failure);
        // The queue goes on at once: a good recording behind it waits for no further tick.
        if (fromQueue && !blocked && retryFirst())
            return;
        show(State::failed(failure.text()));
        return;
    }
    if (!fromQueue) {
        try {
            queue.enqueue(wav);
        } catch (const std::exception&) {
            // It stays in the dictation folder; the next start queues it.
        }
    }
    if (failure.isTransient())
        show(State::queued(pendingCount()));
    else
        waitForUser(failure);
}

// Kept, never deleted, out of the queue's way; the queue goes on with the next recording. A
// file that cannot be moved blocks the retries as any permanent failure does.
void DictationController::setAside(const std::string& wav, const DictationFailure& failure) {
    try {
        const std::string kept = queue.setAside(wav);
        Journal::shared().note("диктовка: запись не читается как звук, отложена в " + kept + " — " +
                               failure.hint());
    } catch (const std::exception& error) {
        note(error.what());
        blocked = true;
    }
}

void DictationController::drop(const std::string& wav, bool fromQueue) {
    if (fromQueue) {
        queue.remove(wav);
        return;
    }
    std::error_code ignored;
    fs::remove(wav, ignored);
}

void DictationController::drainQueue() {
    if (draining || retryYielded || blocked || !state_.is(State::Kind::idle))
        return;
    retryFirst();
}

bool DictationController::retryFirst() {
    const std::vector<std::string> pending = queue.pending();
    if (pending.empty())
        return false;
    draining = true;
    retryStop = std::stop_source();
    note("пробую догнать очередь: " + fs::path(pending.front()).filename().string());
    setState(State::transcribing());
    deliver(pending.front(), true);
    return true;
}

void DictationController::yieldRetry() {
    draining = false;
    retryYielded = true;
    retryStop.request_stop();
    note("нажатие во время повтора очереди — повтор подождёт");
}

// True once for the outcome of a retry that gave way to a press.
bool DictationController::yielded(bool fromQueue) {
    return fromQueue && std::exchange(retryYielded, false);
}

void DictationController::pasteLast() {
    paste(lastInserted_);
}

void DictationController::pasteRaw() {
    paste(lastRaw_);
}

void DictationController::paste(const std::optional<std::string>& text) {
    const auto busy = [](const State& state) {
        return state.is(State::Kind::recording) || state.is(State::Kind::transcribing) ||
               state.is(State::Kind::polishing);
    };
    if (!text || busy(state_))
        return;
    DictationWork::insert([weak = weak_from_this(), seams = insertion, text = *text, busy,
                           kept = keptRecording] {
        try {
            Paster::Result result = Paster::paste(text, seams ? *seams : systemInsertionSeams());
            if (kept)
                removeDelivered(*kept, result);
            onMainThreadWith(weak, [result, text, busy, kept](DictationController& self) {
                if (kept && !result.unclaimed() && self.keptRecording == kept)
                    self.keptRecording.reset();
                // A dictation begun meanwhile keeps its state.
                if (!busy(self.state_))
                    self.showInsertion(result, text);
            });
        } catch (...) {
            // Nothing to show: the text is still where it was.
        }
    });
}

void DictationController::beginPolish(const std::string& raw, const std::string& wav,
                                      bool fromQueue) {
    pendingRaw = raw;
    pendingWav = wav;
    pendingFromQueue = fromQueue;
    setState(State::polishing());
    PolishTask task{++polishTasks, {}};
    DictationWork::recognise([weak = weak_from_this(), editor = polisher(config), raw, id = task.id,
                              stop = task.stop.get_token()] {
        PolishOutcome outcome;
        try {
            outcome = editor->polished(raw, stop);
        } catch (...) {
            outcome = PolishOutcome{std::nullopt,
                                    "правка не удалась: " + reasonOf(std::current_exception()), 0};
        }
        onMainThreadWith(
            weak, [outcome, id](DictationController& self) { self.finishPolish(outcome, id); });
    });
    polishTask = std::move(task);
}

void DictationController::finishPolish(const PolishOutcome& outcome, std::uint64_t task) {
    // Finished already (Esc, or stopped): a late answer changes nothing.
    if (!pendingRaw || !polishTask || polishTask->id != task)
        return;
    const std::string raw = *std::exchange(pendingRaw, std::nullopt);
    const std::string wav = *std::exchange(pendingWav, std::nullopt);
    const bool fromQueue = std::exchange(pendingFromQueue, false);
    polishTask.reset();
    lastPolishNote_ = outcome.note;
    note("правка: " + outcome.note + ", " + std::to_string(outcome.ms) + " мс");
    std::string edited = InsertShape::trimmed(outcome.text.value_or(raw));
    if (edited.empty())
        edited = InsertShape::trimmed(raw);
    insertFinal(edited, InsertShape::trimmed(raw), wav, fromQueue);
}

} // namespace talvoro
