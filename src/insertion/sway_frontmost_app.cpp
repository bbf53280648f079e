#include "insertion/sway_frontmost_app.h"

#include "insertion/pipe_transfer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace talvoro {

namespace {

constexpr char magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::uint32_t getTree = 4;
constexpr std::uint32_t maxAnswer = 64u << 20;
constexpr int maxDepth = 64;

bool sendAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (done <= 0)
            return false;
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

bool receiveAll(int fd, char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::recv(fd, bytes, size, 0);
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::optional<QByteArray> askForTree(const std::filesystem::path& path, int timeoutMs) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!fd || path.native().size() >= sizeof address.sun_path)
        return std::nullopt;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    const timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return std::nullopt;
    char header[14];
    const std::uint32_t request[2] = {0, getTree};
    std::memcpy(header, magic, sizeof magic);
    std::memcpy(header + sizeof magic, request, sizeof request);
    if (!sendAll(fd.get(), header, sizeof header) || !receiveAll(fd.get(), header, sizeof header) ||
        std::memcmp(header, magic, sizeof magic) != 0)
        return std::nullopt;
    std::uint32_t answer[2];
    std::memcpy(answer, header + sizeof magic, sizeof answer);
    if (answer[1] != getTree || answer[0] > maxAnswer)
        return std::nullopt;
    QByteArray tree(static_cast<qsizetype>(answer[0]), '\0');
    if (!receiveAll(fd.get(), tree.data(), answer[0]))
        return std::nullopt;
    return tree;
}

std::optional<QJsonObject> focusedNode(const QJsonObject& node, int depth) {
    if (node.value("focused").toBool())
        return node;
    if (depth >= maxDepth)
        return std::nullopt;
    for (const char* children : {"nodes", "floating_nodes"})
        for (const QJsonValue child : node.value(children).toArray())
            if (auto found = focusedNode(child.toObject(), depth + 1))
                return found;
    return std::nullopt;
}

} // namespace

namespace sway {

std::optional<FrontmostApp> focusedWindow(const QByteArray& tree) {
    const QJsonDocument document = QJsonDocument::fromJson(tree);
    std::optional<QJsonObject> node = focusedNode(document.object(), 0);
    // Outputs and workspaces have the focus when no window has it; they have no process.
    if (!node || !node->contains("pid"))
        return std::nullopt;
    FrontmostApp app;
    app.pid = node->value("pid").toInteger();
    const QJsonObject properties = node->value("window_properties").toObject();
    if (node->value("app_id").isString()) {
        app.windowClass = node->value("app_id").toString().toStdString();
    } else {
        app.windowClass = properties.value("class").toString().toStdString();
        app.windowInstance = properties.value("instance").toString().toStdString();
    }
    return app;
}

} // namespace sway

std::optional<FrontmostApp> SwayFrontmostAppSource::current() {
    std::optional<QByteArray> tree = askForTree(socket, answerWithinMs);
    if (!tree)
        return std::nullopt;
    std::optional<FrontmostApp> app = sway::focusedWindow(*tree);
    if (app && !app->windowClass.empty())
        app->name = names->nameFor(app->windowClass);
    return app;
}

std::unique_ptr<FrontmostAppSource> makeSwayFrontmostAppSource() {
    const char* socket = std::getenv("SWAYSOCK");
    if (!socket || !*socket)
        return nullptr;
    return std::make_unique<SwayFrontmostAppSource>(socket);
}

} // namespace talvoro
