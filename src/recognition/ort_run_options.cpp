#include "recognition/ort_run_options.h"

#include "recognition/ort_handles.h"

namespace talvoro::ORT {

RunOptions::RunOptions() {
    demand(api().CreateRunOptions(&options));
}

RunOptions::~RunOptions() {
    api().ReleaseRunOptions(options);
}

void RunOptions::terminate() {
    check(api().RunOptionsSetTerminate(options));
}

void RunOptions::resume() {
    check(api().RunOptionsUnsetTerminate(options));
}

} // namespace talvoro::ORT
