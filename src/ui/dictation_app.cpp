#include "ui/dictation_app.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <unistd.h>

#include "base/build_constants.h"
#include "base/journal.h"
#include "base/main_thread.h"
#include "dictation/dictation_work.h"
#include "ui/autostart_action.h"
#include "ui/gnome_shortcut.h"
#include "ui/question_box.h"

namespace talvoro {

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string noTrayLine() {
    return "значка в трее не будет: на этом рабочем столе нет области уведомлений; хоткей и "
           "пилюля работают; выйти — talvoro quit, Ctrl+C или kill -TERM " +
           std::to_string(::getpid());
}

// The figure drawn to fill each square a tray may ask for: panels give 16 to 64 pixels, and a
// small picture centred in a larger square would look lost there.
QIcon trayIcon(const MenuBarIcon::State& state) {
    QIcon icon;
    const ColorScheme scheme = desktopColorScheme();
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        QImage image = MenuBarIcon::image(state, scheme, side / MenuBarIcon::size.width());
        image.setDevicePixelRatio(1);
        QImage square(side, side, QImage::Format_ARGB32_Premultiplied);
        square.fill(Qt::transparent);
        QPainter painter(&square);
        painter.drawImage((side - image.width()) / 2, (side - image.height()) / 2, image);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(square));
    }
    return icon;
}

// The application inside its event loop. Qt ends the process with exit() when the X server
// goes away; the handler below then stops dictation the orderly way, so a recording in progress
// is closed on disk and waits for the next start.
DictationApp* running = nullptr;

void stopOnExit() {
    if (DictationApp* app = running) {
        running = nullptr;
        app->endAbruptly();
    }
}

} // namespace

DictationApp::DictationApp(Config config, std::unique_ptr<InstanceChannel> channel, Options options)
    : config_(std::move(config)), channel_(std::move(channel)), options_(std::move(options)) {
    greetingEnd_.setSingleShot(true);
    connect(&greetingEnd_, &QTimer::timeout, this, [this] {
        if (host_ && host_->presenter())
            host_->presenter()->hidePillIfIdle();
    });
}

DictationApp::~DictationApp() {
    settings_.reset();
    if (host_)
        host_->stop();
}

int DictationApp::run() {
    signals_ = std::make_unique<QuitSignals>([] { QCoreApplication::quit(); });
    if (!launch()) {
        host_->stop();
        return 1;
    }
    Journal::shared(); // made before the handler, so it is still there when the handler runs
    static const bool registered = std::atexit(stopOnExit) == 0;
    (void)registered;
    running = this;
    const int status = QApplication::exec();
    running = nullptr;
    host_->stop();
    return status;
}

void DictationApp::endAbruptly() {
    Journal::shared().note("связь с X-сервером оборвалась — Тальворо закрывается, записи "
                           "остаются на диске");
    closeMainThread();
    if (host_)
        host_->stop();
    // main() never gets to settle on this path; recognitions still running would outlive the
    // statics they use.
    DictationWork::settle();
    Journal::shared().flush();
}

bool DictationApp::launch() {
    const bool trayShown = QSystemTrayIcon::isSystemTrayAvailable();
    menu_ = std::make_unique<QMenu>();
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] { rebuildMenu(); });
    tray_ = std::make_unique<QSystemTrayIcon>(trayIcon(MenuBarIcon::State::idle()));
    tray_->setToolTip(appDisplayName);
    tray_->setContextMenu(menu_.get());
    connect(tray_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) // a left click: the same menu
                    menu_->popup(QCursor::pos());
            });
    // Shown even without a tray now: Qt puts it there if a tray comes up later.
    tray_->show();

    DictationHost::Options hostOptions = options_.host;
    hostOptions.settingsFile = options_.settingsFile;
    if (options_.transcriber) {
        hostOptions.transcriber = [t = options_.transcriber](const Config&) { return t; };
        hostOptions.fetchModel = false;
    }
    QPointer<DictationApp> self(this);
    host_ = std::make_unique<DictationHost>(
        config_, options_.debug,
        [self] {
            if (self)
                self->refreshIcon();
        },
        std::move(hostOptions));
    DictationPresenter& presenter = host_->start();
    rebuildMenu(); // a tray that shows the menu without asking first still has one
    if (channel_)
        channel_->setHandler([this](const std::string& command) { return remote(command); });

    if (!options_.standalone) {
        if (presenter.startupError()) {
            say("диктовка не запустилась: " + *presenter.startupError());
            return false;
        }
        if (!presenter.missing().isEmpty()) {
            say("не хватает разрешений: " + presenter.missing().text());
            return false;
        }
        say("диктовка запущена: " + presenter.hotkeyDescription() + " — нажать, сказать, нажать");
        if (presenter.hotkeyNote())
            say("хоткей: " + *presenter.hotkeyNote());
    }
    if (!trayShown) {
        say(noTrayLine());
        Journal::shared().note(noTrayLine());
    }
    if (options_.standalone && presenter.missing().microphone)
        host_->requestMicrophone();
    greet(trayShown);
    return true;
}

void DictationApp::greet(bool trayShown) {
    DictationPresenter& presenter = *host_->presenter();
    const bool ready = !presenter.startupError() && presenter.missing().isEmpty();
    std::string text;
    if (ready)
        text = "готов · " + presenter.hotkeyDescription() +
               (presenter.hotkeyNote()
                    ? " · " + HotkeyBinding::defaultBinding().description() + " занято"
                    : "") +
               (trayShown ? "" : " · без трея");
    else
        text = trayShown ? "нет разрешений ↑" : "нет разрешений: " + presenter.missing().text();
    if (presenter.startupError())
        text = std::string("диктовка не запустилась — подробности в ") +
               (trayShown ? "меню" : "журнале");
    presenter.showPill(text);
    if (options_.standalone)
        greetingEnd_.start(ready ? 4000 : 6000);
}

void DictationApp::refreshIcon() {
    if (!tray_ || !host_)
        return;
    QString tip = appDisplayName;
    if (host_->importing())
        tip += " · " + QString::fromStdString(host_->engineLine());
    else if (host_->downloading())
        tip += QString(" · качаю модель %1%").arg(static_cast<int>(host_->downloadShare() * 100));
    else if (host_->modelMissing())
        tip += " · модель не скачана";
    if (tray_->toolTip() != tip)
        tray_->setToolTip(tip);
    MenuBarIcon::State state = host_->iconState();
    state.level = 0; // the figure does not show the level; a new picture 15 times a second costs
    if (shownIcon_ == state)
        return;
    shownIcon_ = state;
    tray_->setIcon(trayIcon(state));
}

void DictationApp::rebuildMenu() {
    if (!host_)
        return;
    DictationMenu::Actions actions = host_->menuActions([] { QCoreApplication::quit(); });
    actions.autostart = [](QObject* parent) {
        return makeAutostartAction(
            Autostart::forThisUser(),
            [](const std::string& problem) { Journal::shared().note("автозапуск: " + problem); },
            parent);
    };
    actions.gnomeShortcut = [this] { toggleGnomeShortcut(); };
    actions.openSettings = [this] { openSettings(); };
    DictationMenu::fill(*menu_, host_->menuFacts(), actions);
}

void DictationApp::toggleGnomeShortcut() {
    const GnomeShortcut shortcut;
    const bool bound = shortcut.bound();
    const std::string keys = config_.dictationHotkey.description();
    const QString question = QString::fromStdString(
        bound
            ? "Убрать из GNOME сочетание Тальворо?"
            : "Назначить в GNOME сочетание " + keys +
                  ", которое запускает «talvoro toggle»? Его можно поменять в Настройках › "
                  "Клавиатура › Комбинации клавиш; если " +
                  keys + " уже занято (в GNOME Alt+Space открывает меню окна), задай там другое.");
    if (!askUser(question, bound ? "Убрать" : "Назначить", "Отмена"))
        return;
    try {
        if (bound)
            shortcut.unbind();
        else
            shortcut.bind(config_.dictationHotkey,
                          "'" + QCoreApplication::applicationFilePath().toStdString() + "' toggle");
    } catch (const GnomeShortcut::Error& error) {
        Journal::shared().note(error.what());
        QMessageBox::warning(nullptr, QString::fromUtf8(appDisplayName), error.what());
    }
}

void DictationApp::openSettings() {
    if (!settings_) {
        settings_ = std::make_unique<SettingsWindow>(host_->settingsWindowOptions());
    } else {
        settings_->refresh();
    }
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

std::string DictationApp::remote(const std::string& command) {
    DictationPresenter* presenter = host_ ? host_->presenter() : nullptr;
    if (command == "quit") {
        QTimer::singleShot(0, [] { QCoreApplication::quit(); });
        return "ok";
    }
    if (command == InstanceChannel::modelInstalled && host_) {
        // Dictation restarts with the model: after this answer has gone out.
        QTimer::singleShot(0, this, [this] {
            if (host_)
                host_->modelInstalled();
        });
        return "ok";
    }
    if (command == "settings") {
        QTimer::singleShot(0, this, [this] { openSettings(); });
        return "ok";
    }
    static const std::map<std::string, void (DictationPresenter::*)()> actions = {
        {"toggle", &DictationPresenter::toggle},
        {"start", &DictationPresenter::press},
        {"stop", &DictationPresenter::release},
        {"cancel", &DictationPresenter::cancel},
        {"paste-last", &DictationPresenter::pasteLast}};
    const auto action = actions.find(command);
    if (action == actions.end())
        return "неизвестная команда: " + command;
    if (!presenter || !presenter->hasController())
        return presenter ? presenter->statusLine() : std::string("диктовка не запущена");
    (presenter->*action->second)();
    return "ok";
}

} // namespace talvoro
