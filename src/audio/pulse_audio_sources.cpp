#include "audio/pulse_audio_sources.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <memory>

namespace talvoro {

namespace {

constexpr pa_usec_t answerTimeout = PA_USEC_PER_SEC;

struct MainloopFree {
    void operator()(pa_mainloop* m) const { pa_mainloop_free(m); }
};
struct ContextFree {
    void operator()(pa_context* c) const {
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};

struct Query {
    AudioSourceList result;
    std::vector<std::pair<bool, AudioSource>> found; // (is a monitor, source)
    int pending = 0;
    bool failed = false;
};

// Runs the loop until `done` or the deadline; false on the deadline.
template <typename Done> bool runUntil(pa_mainloop* loop, Done done) {
    bool late = false;
    pa_mainloop_api* api = pa_mainloop_get_api(loop);
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when), answerTimeout);
    pa_time_event* alarm = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* flag) {
            *static_cast<bool*>(flag) = true;
        },
        &late);
    while (!done() && !late)
        if (pa_mainloop_iterate(loop, 1, nullptr) < 0)
            break;
    api->time_free(alarm);
    return done();
}

} // namespace

AudioSourceList PulseAudioSources::list() {
    std::unique_ptr<pa_mainloop, MainloopFree> loop(pa_mainloop_new());
    if (!loop)
        return {};
    std::unique_ptr<pa_context, ContextFree> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "talvoro"));
    if (!context || pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return {};
    pa_context* c = context.get();
    const bool ready = runUntil(loop.get(), [c] {
        const pa_context_state_t state = pa_context_get_state(c);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (!ready || pa_context_get_state(c) != PA_CONTEXT_READY)
        return {};

    Query query;
    query.pending = 2;
    auto serverInfo = [](pa_context*, const pa_server_info* info, void* data) {
        auto* q = static_cast<Query*>(data);
        if (info && info->default_source_name)
            q->result.defaultName = info->default_source_name;
        --q->pending;
    };
    auto sourceInfo = [](pa_context*, const pa_source_info* info, int eol, void* data) {
        auto* q = static_cast<Query*>(data);
        if (eol != 0) {
            q->failed = eol < 0;
            --q->pending;
            return;
        }
        const bool monitor = info->monitor_of_sink != PA_INVALID_INDEX;
        q->found.push_back(
            {monitor, {info->name, info->description ? info->description : info->name}});
    };
    for (pa_operation* operation : {pa_context_get_server_info(c, serverInfo, &query),
                                    pa_context_get_source_info_list(c, sourceInfo, &query)}) {
        if (!operation)
            return {};
        pa_operation_unref(operation);
    }
    if (!runUntil(loop.get(), [&] { return query.pending == 0; }) || query.failed)
        return {};
    std::stable_sort(query.found.begin(), query.found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    query.result.serverAnswers = true;
    for (auto& [monitor, source] : query.found)
        query.result.sources.push_back(std::move(source));
    return query.result;
}

} // namespace talvoro
