#pragma once

struct OrtRunOptions;

namespace talvoro::ORT {

// Options for runs that another thread may end. After terminate() the runs in flight that use
// them fail soon, and every later one fails at once, until resume().
class RunOptions {
public:
    RunOptions();
    ~RunOptions();
    RunOptions(const RunOptions&) = delete;
    RunOptions& operator=(const RunOptions&) = delete;

    void terminate(); // from any thread
    void resume();    // between runs

    OrtRunOptions* handle() const { return options; }

private:
    OrtRunOptions* options = nullptr; // owned
};

} // namespace talvoro::ORT
