#include "insertion/atspi_focus_source.h"

#include "insertion/frontmost_app.h"
#include "insertion/lookup_thread.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariant>

#include <atspi/atspi.h>

#include <map>

namespace talvoro {

namespace {

constexpr int callTimeoutMs = 400;
constexpr int walkLimit = 3000;

const char* const noBus = "нет шины AT-SPI";

// Holds one GObject reference.
template <typename T> class Ref {
public:
    explicit Ref(T* object = nullptr) : object(object) {}
    ~Ref() {
        if (object)
            g_object_unref(object);
    }
    Ref(Ref&& other) noexcept : object(std::exchange(other.object, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        std::swap(object, other.object);
        return *this;
    }
    T* get() const { return object; }
    explicit operator bool() const { return object != nullptr; }

private:
    T* object;
};

using Accessible = Ref<AtspiAccessible>;

class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds budget)
        : end(std::chrono::steady_clock::now() + budget) {}
    bool passed() const { return std::chrono::steady_clock::now() >= end; }

private:
    std::chrono::steady_clock::time_point end;
};

// Everything below runs on the "atspi" thread only.

bool connected = false;

bool connect() {
    if (connected)
        return true;
    // Without a bus libatspi aborts the process on its first real call, so ask for it first.
    if (atspi_get_a11y_bus() == nullptr)
        return false;
    atspi_set_timeout(callTimeoutMs, 0);
    atspi_init();
    // A context nobody iterates: libatspi then reads its messages only inside its own calls, on
    // this thread. (Its connections to single applications still go on GLib's default context,
    // which therefore no one may iterate either.)
    atspi_set_main_context(g_main_context_new());
    connected = true;
    return true;
}

bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    Ref<AtspiStateSet> states(atspi_accessible_get_state_set(accessible));
    return states && atspi_state_set_contains(states.get(), state);
}

std::vector<Accessible> children(AtspiAccessible* accessible) {
    std::vector<Accessible> out;
    GError* error = nullptr;
    int count = atspi_accessible_get_child_count(accessible, &error);
    if (error) {
        g_error_free(error);
        return out;
    }
    for (int index = 0; index < count; ++index) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(accessible, index, &error);
        if (error) {
            g_error_free(error);
            error = nullptr;
            continue;
        }
        if (child)
            out.emplace_back(child);
    }
    return out;
}

Paster::Focus describe(AtspiAccessible* accessible) {
    Paster::Focus focus;
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_role_name(accessible, &error);
    if (error)
        g_error_free(error);
    if (name) {
        std::string role(name);
        g_free(name);
        focus.subrole = role;
        bool singleLine = role == "text" && (hasState(accessible, ATSPI_STATE_SINGLE_LINE) ||
                                             !hasState(accessible, ATSPI_STATE_MULTI_LINE));
        focus.role = axRoleForAtspiRole(role, singleLine);
    }
    return focus;
}

std::optional<Paster::Focus> collectionMatch(AtspiAccessible* window) {
    Ref<AtspiCollection> collection(atspi_accessible_get_collection_iface(window));
    if (!collection)
        return std::nullopt;
    Ref<AtspiStateSet> states(atspi_state_set_new(nullptr));
    atspi_state_set_add(states.get(), ATSPI_STATE_FOCUSED);
    Ref<AtspiMatchRule> rule(atspi_match_rule_new(
        states.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
        ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, FALSE));
    GError* error = nullptr;
    GArray* matches = atspi_collection_get_matches(
        collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, &error);
    if (error)
        g_error_free(error);
    if (!matches)
        return std::nullopt;
    std::optional<Paster::Focus> found;
    for (guint index = 0; index < matches->len; ++index) {
        Accessible match(g_array_index(matches, AtspiAccessible*, index));
        if (!found)
            found = describe(match.get());
    }
    g_array_free(matches, TRUE);
    return found;
}

// Breadth first from the window, at most `walkLimit` elements and within the deadline.
std::optional<Paster::Focus> walkForFocus(AtspiAccessible* window, const Deadline& deadline) {
    std::vector<Accessible> frontier;
    frontier.emplace_back(Accessible(static_cast<AtspiAccessible*>(g_object_ref(window))));
    int visited = 0;
    for (std::size_t next = 0; next < frontier.size() && visited < walkLimit; ++next, ++visited) {
        if (deadline.passed())
            return std::nullopt;
        AtspiAccessible* accessible = frontier[next].get();
        if (hasState(accessible, ATSPI_STATE_FOCUSED))
            return describe(accessible);
        for (Accessible& child : children(accessible))
            frontier.push_back(std::move(child));
    }
    return std::nullopt;
}

std::optional<Paster::Focus> focusIn(AtspiAccessible* window, const Deadline& deadline) {
    atspi_accessible_clear_cache(window);
    if (auto focus = collectionMatch(window))
        return focus;
    return walkForFocus(window, deadline);
}

// Konsole 6 reports its terminal as a filler: a filler in a terminal emulator is its terminal.
Paster::Focus inApplication(Paster::Focus focus, AtspiAccessible* app) {
    if (focus.subrole != "filler")
        return focus;
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_name(app, &error);
    if (error)
        g_error_free(error);
    const bool terminal = name && namesTerminal(name);
    g_free(name);
    if (terminal) {
        focus.subrole = "terminal";
        focus.role = "AXTextArea";
    }
    return focus;
}

// Without a main loop of its own libatspi reads every property afresh anyway. Its cache must
// stay on all the same: the answer to an application's item list, handled inside a D-Bus
// dispatch, looks at the states it has just stored, and with the cache off it would ask the
// application for them from within that dispatch, which never returns.
std::vector<Accessible> applications() {
    Accessible desktop(atspi_get_desktop(0));
    if (!desktop)
        return {};
    return children(desktop.get());
}

AtspiFocusSource::Answer activeWindowFocus() {
    if (!connect())
        return {std::nullopt, noBus};
    Deadline deadline(AtspiFocusSource::lookupBudget);
    for (Accessible& app : applications()) {
        for (Accessible& window : children(app.get())) {
            if (deadline.passed())
                return {std::nullopt, "AT-SPI не ответила вовремя"};
            if (!hasState(window.get(), ATSPI_STATE_ACTIVE))
                continue;
            if (auto focus = focusIn(window.get(), deadline))
                return {inApplication(*focus, app.get()), {}};
            return {std::nullopt, "в активном окне нет элемента с фокусом"};
        }
    }
    return {std::nullopt, "активного окна в AT-SPI нет"};
}

AtspiFocusSource::Answer applicationWindowFocus(std::int64_t pid) {
    if (!connect())
        return {std::nullopt, noBus};
    if (pid <= 0)
        return {std::nullopt, "процесс активного окна неизвестен"};
    Deadline deadline(AtspiFocusSource::lookupBudget);
    for (Accessible& app : applications()) {
        GError* error = nullptr;
        guint appPid = atspi_accessible_get_process_id(app.get(), &error);
        if (error) {
            g_error_free(error);
            continue;
        }
        if (static_cast<std::int64_t>(appPid) != pid)
            continue;
        for (Accessible& window : children(app.get()))
            if (auto focus = focusIn(window.get(), deadline))
                return {inApplication(*focus, app.get()), {}};
        return {std::nullopt, "в приложении нет элемента с фокусом"};
    }
    return {std::nullopt, "приложение " + std::to_string(pid) + " не видно в AT-SPI"};
}

std::string camelCased(const std::string& name) {
    std::string out;
    bool upper = true;
    for (char c : name) {
        if (c == ' ' || c == '-' || c == '_') {
            upper = true;
            continue;
        }
        out += upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        upper = false;
    }
    return out;
}

} // namespace

std::string axRoleForAtspiRole(const std::string& atspiRole, bool singleLine) {
    static const std::map<std::string, std::string> known{
        {"frame", "AXWindow"},           {"window", "AXWindow"},
        {"dialog", "AXWindow"},          {"application", "AXApplication"},
        {"push button", "AXButton"},     {"button", "AXButton"},
        {"toggle button", "AXButton"},   {"panel", "AXGroup"},
        {"filler", "AXGroup"},           {"grouping", "AXGroup"},
        {"entry", "AXTextField"},        {"password text", "AXTextField"},
        {"text", "AXTextArea"},          {"terminal", "AXTextArea"},
        {"paragraph", "AXTextArea"},     {"document web", "AXWebArea"},
        {"scroll pane", "AXScrollArea"}, {"table cell", "AXCell"},
        {"combo box", "AXComboBox"},
    };
    if (atspiRole == "text" && singleLine)
        return "AXTextField";
    if (auto found = known.find(atspiRole); found != known.end())
        return found->second;
    return "AX" + camelCased(atspiRole);
}

namespace {

const char* const late = "AT-SPI не ответила вовремя";

// libatspi keeps process-wide state, so every source shares the one thread that may touch it.
LookupThread& atspiThread() {
    static LookupThread thread("atspi");
    return thread;
}

bool glibRunsTheMainLoop() {
    QCoreApplication* app = QCoreApplication::instance();
    QAbstractEventDispatcher* dispatcher =
        app ? QAbstractEventDispatcher::instance(app->thread()) : nullptr;
    return dispatcher && dispatcher->inherits("QEventDispatcherGlib");
}

} // namespace

AtspiFocusSource::Answer AtspiFocusSource::bounded(std::function<Answer()> lookup) {
    if (glibRunsTheMainLoop())
        return {std::nullopt, "цикл событий Qt работает на GLib — AT-SPI не опрашиваем"};
    auto answer = std::make_shared<Answer>();
    // A little over the lookup's own budget: one call in flight may still take its timeout.
    const auto within = lookupBudget + std::chrono::milliseconds(callTimeoutMs + 100);
    switch (
        atspiThread().run([answer, lookup = std::move(lookup)] { *answer = lookup(); }, within)) {
    case LookupThread::Outcome::answered:
        return *answer;
    case LookupThread::Outcome::late:
        return {std::nullopt, late};
    case LookupThread::Outcome::busy:
        return {std::nullopt, "AT-SPI ещё занята прежним запросом"};
    }
    return {std::nullopt, late};
}

bool AtspiFocusSource::available() {
    return bounded([] { return Answer{{}, connect() ? "" : noBus}; }).note.empty();
}

std::optional<Paster::Focus> AtspiFocusSource::systemFocus(std::vector<std::string>& notes) {
    Answer answer = bounded(activeWindowFocus);
    if (!answer.focus)
        notes.push_back(answer.note);
    return answer.focus;
}

std::optional<Paster::Focus> AtspiFocusSource::applicationFocus(std::int64_t pid,
                                                                std::vector<std::string>& notes) {
    Answer answer = bounded([pid] { return applicationWindowFocus(pid); });
    if (!answer.focus)
        notes.push_back(answer.note);
    return answer.focus;
}

void AtspiFocusSource::wakeReporting(std::int64_t) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage set = QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus",
                                                      "org.freedesktop.DBus.Properties", "Set");
    set << QString("org.a11y.Status") << QString("IsEnabled")
        << QVariant::fromValue(QDBusVariant(true));
    bus.call(set, QDBus::Block, callTimeoutMs);
}

} // namespace talvoro
