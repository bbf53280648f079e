#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace talvoro {

// One running instance per user: it holds a lock file and listens on a local socket in the
// runtime folder. Other starts find it there and may send it one-line commands ("toggle",
// "paste-last", "quit"), each answered with one line.
class InstanceChannel : public QObject {
public:
    using Handler = std::function<std::string(const std::string& command)>;

    // This process becomes the instance; nothing when another one runs.
    static std::unique_ptr<InstanceChannel> claim();
    ~InstanceChannel() override;

    // Answers the commands that arrive; "ok" by default.
    void setHandler(Handler handler) { handler_ = std::move(handler); }

    // Tells the instance that the model folder now holds a checked model.
    static constexpr const char* modelInstalled = "model-installed";

    // The running instance's answer; nothing when none runs.
    static std::optional<std::string> send(const std::string& command, int timeoutMs = 3000);

    // Where the lock and the socket live. Throws CommandFailure when the only folder left is a
    // shared one that is not the user's alone.
    static std::string folder();

private:
    explicit InstanceChannel(std::unique_ptr<QLockFile> lock);
    bool listen();
    void serve();

    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
    Handler handler_;
};

} // namespace talvoro
