#pragma once

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/temp_dir.h"

namespace talvoro::testing {

// The test's own file server on 127.0.0.1 (model_server.py beside this file), serving the
// files of root() and logging every request. Started by the constructor, ended by the
// destructor.
class ModelServer {
public:
    ModelServer() {
        const std::string script = TALVORO_SOURCE_DIR "/tests/download/model_server.py";
        const std::string root = dir_ / "root";
        std::filesystem::create_directories(root);
        int out[2];
        if (::pipe(out) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl("/usr/bin/python3", "python3", script.c_str(), root.c_str(), log().c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* stream = ::fdopen(out[0], "r");
        if (stream == nullptr || std::fscanf(stream, "PORT %d", &port_) != 1)
            port_ = 0;
        if (stream != nullptr)
            std::fclose(stream);
    }
    ~ModelServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ModelServer(const ModelServer&) = delete;
    ModelServer& operator=(const ModelServer&) = delete;

    bool running() const { return port_ > 0; }
    // A source whose answers follow the mode (see model_server.py): "ok", "404:decoder", …
    std::string base(const std::string& mode) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + mode;
    }
    std::string root() const { return dir_ / "root"; }
    std::string put(const std::string& name, const std::string& content) const {
        return dir_.write("root/" + name, content);
    }
    // Every request so far, as "PATH RANGE" ("-" without a Range header).
    std::vector<std::string> requests() const {
        std::vector<std::string> lines;
        std::string text = readFile(log());
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

private:
    std::string log() const { return dir_ / "requests.log"; }

    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace talvoro::testing
