#include "audio/pulse_audio_capture.h"

#include "audio/core_audio_error.h"
#include "audio/host_time.h"

#include <pulse/pulseaudio.h>

#include <optional>
#include <string>
#include <utility>

namespace talvoro {

namespace {

constexpr pa_usec_t serverTimeout = 3 * PA_USEC_PER_SEC;
constexpr std::uint32_t fragmentFrames = 2048;

struct MainloopDeleter {
    void operator()(pa_threaded_mainloop* m) const {
        pa_threaded_mainloop_stop(m);
        pa_threaded_mainloop_free(m);
    }
};
struct ContextDeleter {
    void operator()(pa_context* c) const {
        pa_context_set_state_callback(c, nullptr, nullptr);
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};
struct StreamDeleter {
    void operator()(pa_stream* s) const {
        pa_stream_set_state_callback(s, nullptr, nullptr);
        pa_stream_set_read_callback(s, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
            pa_stream_disconnect(s);
        pa_stream_unref(s);
    }
};

class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* m) : m(m) { pa_threaded_mainloop_lock(m); }
    ~MainloopLock() { pa_threaded_mainloop_unlock(m); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* m;
};

std::optional<SampleType> sampleTypeOf(pa_sample_format_t format) {
    switch (format) {
    case PA_SAMPLE_S16NE:
        return SampleType::int16;
    case PA_SAMPLE_S32NE:
        return SampleType::int32;
    case PA_SAMPLE_FLOAT32NE:
        return SampleType::float32;
    default:
        return std::nullopt;
    }
}

// The source's own rate and channels; its sample format when the sink can take it as it
// is, else floats, which the server converts to.
pa_sample_spec recordSpec(const pa_sample_spec& source) {
    pa_sample_spec spec = source;
    if (!sampleTypeOf(spec.format))
        spec.format = PA_SAMPLE_FLOAT32NE;
    return spec;
}

AudioFormat formatOf(const pa_sample_spec& spec) {
    pa_sample_spec record = recordSpec(spec);
    return AudioFormat{static_cast<double>(record.rate), record.channels,
                       *sampleTypeOf(record.format)};
}

// What a PulseAudio error code means to someone who wanted to record, in one sentence.
std::string reasonOf(int error) {
    switch (error) {
    case PA_ERR_ACCESS:
        return "звуковой сервер не дал доступа к записи";
    case PA_ERR_NOENTITY:
        return "источник записи пропал";
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
        return "связь со звуковым сервером оборвалась";
    case PA_ERR_TIMEOUT:
        return "звуковой сервер не ответил вовремя";
    case PA_ERR_BUSY:
        return "источник записи занят другой программой";
    case PA_ERR_INVALID:
    case PA_ERR_NOTSUPPORTED:
        return "звуковой сервер не принял формат записи";
    default:
        return "звуковой сервер отказал (ошибка " + std::to_string(error) + ")";
    }
}

[[noreturn]] void notStarted(int error) {
    throw CoreAudioError::status("запись не началась: " + reasonOf(error), error);
}

[[noreturn]] void noClientThread() {
    throw CoreAudioError::message(
        "запись не началась: не запустился поток связи со звуковым сервером");
}

} // namespace

struct PulseAudioCapture::Impl {
    std::unique_ptr<pa_threaded_mainloop, MainloopDeleter> mainloop;
    // All below are touched with the main loop's lock held.
    std::unique_ptr<pa_context, ContextDeleter> context;
    std::unique_ptr<pa_stream, StreamDeleter> stream;
    std::string preferredSource; // set once, before any use
    std::string sourceName;
    pa_sample_spec sourceSpec{};
    pa_channel_map sourceMap{};
    AudioFormat streamFormat;
    Callback callback;
    Lost lost;
    bool capturing = false; // the stream is up and nobody stopped it

    Impl() : mainloop(pa_threaded_mainloop_new()) {
        if (!mainloop)
            return;
        pa_threaded_mainloop_set_name(mainloop.get(), "ostrel.audio");
        if (pa_threaded_mainloop_start(mainloop.get()) < 0)
            mainloop.reset();
    }

    ~Impl() {
        if (!mainloop)
            return;
        MainloopLock guard(mainloop.get());
        stream.reset();
        context.reset();
    }

    void signal() { pa_threaded_mainloop_signal(mainloop.get(), 0); }

    // Waits on the main loop (its lock held) until done() or the timeout; false on timeout.
    template <typename Done> bool waitUntil(Done done) {
        struct Alarm {
            Impl* self;
            bool rang = false;
        } alarm{this};
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop.get());
        timeval when{};
        pa_timeval_add(pa_gettimeofday(&when), serverTimeout);
        pa_time_event* event = api->time_new(
            api, &when,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
                auto* a = static_cast<Alarm*>(data);
                a->rang = true;
                a->self->signal();
            },
            &alarm);
        while (!done() && !alarm.rang)
            pa_threaded_mainloop_wait(mainloop.get());
        api->time_free(event);
        return done();
    }

    bool waitOperation(pa_operation* operation) {
        if (!operation)
            return false;
        bool finished = waitUntil([&] {
            return pa_operation_get_state(operation) != PA_OPERATION_RUNNING ||
                   !PA_CONTEXT_IS_GOOD(pa_context_get_state(context.get()));
        });
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
            pa_operation_cancel(operation);
        bool completed = finished && pa_operation_get_state(operation) == PA_OPERATION_DONE;
        pa_operation_unref(operation);
        return completed;
    }

    bool connected() const {
        return context && pa_context_get_state(context.get()) == PA_CONTEXT_READY;
    }

    bool connect() {
        if (connected())
            return true;
        stream.reset();
        context.reset();
        context.reset(pa_context_new(pa_threaded_mainloop_get_api(mainloop.get()), "talvoro"));
        if (!context)
            return false;
        pa_context_set_state_callback(
            context.get(), [](pa_context*, void* data) { static_cast<Impl*>(data)->signal(); },
            this);
        if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            context.reset();
            return false;
        }
        waitUntil([&] {
            pa_context_state_t state = pa_context_get_state(context.get());
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (!connected()) {
            context.reset();
            return false;
        }
        return true;
    }

    InputStatus status();
    bool lookUpSource();
    void startStream(Callback newCallback);
    static void onRead(pa_stream* s, std::size_t, void* data);
    static void onStreamState(pa_stream* s, void* data);
    void deliver(const void* bytes, std::size_t length, std::uint64_t now, std::size_t readable);
};

bool PulseAudioCapture::Impl::lookUpSource() {
    struct Lookup {
        Impl* self;
        std::string name;
        bool found = false;
        pa_sample_spec spec{};
        pa_channel_map map{};
    } lookup{this, {}};
    sourceName.clear();
    bool answered = waitOperation(pa_context_get_server_info(
        context.get(),
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* l = static_cast<Lookup*>(data);
            if (info && info->default_source_name)
                l->name = info->default_source_name;
            l->self->signal();
        },
        &lookup));
    if (!answered)
        return false;
    // The chosen source while the server has it; the default otherwise.
    for (const std::string& name : {preferredSource, lookup.name}) {
        if (name.empty())
            continue;
        answered = waitOperation(pa_context_get_source_info_by_name(
            context.get(), name.c_str(),
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* l = static_cast<Lookup*>(data);
                if (eol == 0 && info) {
                    l->found = true;
                    l->spec = info->sample_spec;
                    l->map = info->channel_map;
                }
                l->self->signal();
            },
            &lookup));
        if (answered && lookup.found && pa_sample_spec_valid(&lookup.spec)) {
            sourceName = name;
            sourceSpec = lookup.spec;
            sourceMap = lookup.map;
            return true;
        }
        lookup.found = false;
    }
    return false;
}

InputStatus PulseAudioCapture::Impl::status() {
    InputStatus result;
    if (!mainloop || !connect())
        return result;
    result.serverAnswers = true;
    if (lookUpSource())
        result.format = formatOf(sourceSpec);
    return result;
}

void PulseAudioCapture::Impl::startStream(Callback newCallback) {
    if (!connected() || sourceName.empty()) {
        if (!connect())
            throw CoreAudioError::inputUnavailable(false);
        if (!lookUpSource())
            throw CoreAudioError::inputUnavailable(true);
    }
    capturing = false;
    stream.reset();
    pa_sample_spec spec = recordSpec(sourceSpec);
    const pa_channel_map* map = pa_channel_map_compatible(&sourceMap, &spec) ? &sourceMap : nullptr;
    stream.reset(pa_stream_new(context.get(), "dictation", &spec, map));
    if (!stream)
        notStarted(pa_context_errno(context.get()));
    streamFormat = formatOf(sourceSpec);
    callback = std::move(newCallback);
    pa_stream_set_state_callback(stream.get(), &Impl::onStreamState, this);
    pa_stream_set_read_callback(stream.get(), &Impl::onRead, this);

    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = fragmentFrames * static_cast<std::uint32_t>(pa_frame_size(&spec));
    const pa_stream_flags_t flags = PA_STREAM_ADJUST_LATENCY;
    int error = 0;
    if (pa_stream_connect_record(stream.get(), sourceName.c_str(), &attr, flags) < 0) {
        error = pa_context_errno(context.get());
    } else {
        waitUntil([&] {
            pa_stream_state_t state = pa_stream_get_state(stream.get());
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (pa_stream_get_state(stream.get()) != PA_STREAM_READY)
            error = pa_context_errno(context.get());
    }
    if (error != 0 || pa_stream_get_state(stream.get()) != PA_STREAM_READY) {
        stream.reset();
        callback = nullptr;
        notStarted(error ? error : PA_ERR_TIMEOUT);
    }
    capturing = true;
}

// A server that stops or restarts (pipewire-pulse) fails every stream of the connection.
void PulseAudioCapture::Impl::onStreamState(pa_stream* s, void* data) {
    auto* self = static_cast<Impl*>(data);
    self->signal();
    if (!self->capturing || PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
        return;
    self->capturing = false;
    self->callback = nullptr;
    if (self->lost)
        self->lost(reasonOf(pa_context_errno(self->context.get())));
}

void PulseAudioCapture::Impl::onRead(pa_stream* s, std::size_t, void* data) {
    auto* self = static_cast<Impl*>(data);
    const std::uint64_t now = HostTime::now();
    for (;;) {
        const std::size_t readable = pa_stream_readable_size(s);
        if (readable == 0 || readable == static_cast<std::size_t>(-1))
            return;
        const void* bytes = nullptr;
        std::size_t length = 0;
        if (pa_stream_peek(s, &bytes, &length) < 0 || length == 0)
            return;
        // A hole (no bytes, only a length) is skipped; the sink's gap rule fills it.
        if (bytes)
            self->deliver(bytes, length, now, readable);
        pa_stream_drop(s);
    }
}

// The newest readable frame is taken as captured now, so this chunk began the duration of
// everything still unread earlier. The server's latency figure is not used: for monitor
// sources and while the latency is being negotiated it swings by hundreds of milliseconds,
// which the sink would take for lost time.
void PulseAudioCapture::Impl::deliver(const void* bytes, std::size_t length, std::uint64_t now,
                                      std::size_t readable) {
    AudioBuffer buffer{streamFormat, bytes,
                       static_cast<std::int64_t>(length) / streamFormat.bytesPerFrame()};
    if (buffer.frames == 0 || !callback)
        return;
    const double unread =
        static_cast<double>(readable) / streamFormat.bytesPerFrame() / streamFormat.sampleRate;
    const std::uint64_t unreadTicks = HostTime::ticks(unread);
    try {
        callback(buffer, now > unreadTicks ? now - unreadTicks : 0);
    } catch (...) {
        // The sink does not throw; nothing may unwind into the sound library.
    }
}

PulseAudioCapture::PulseAudioCapture(std::string preferredSource) : impl(std::make_unique<Impl>()) {
    impl->preferredSource = std::move(preferredSource);
}

PulseAudioCapture::~PulseAudioCapture() = default;

InputStatus PulseAudioCapture::inputStatus() {
    if (!impl->mainloop)
        return {};
    MainloopLock guard(impl->mainloop.get());
    return impl->status();
}

void PulseAudioCapture::start(Callback callback) {
    if (!impl->mainloop)
        noClientThread();
    MainloopLock guard(impl->mainloop.get());
    impl->startStream(std::move(callback));
}

void PulseAudioCapture::stop() {
    if (!impl->mainloop)
        return;
    MainloopLock guard(impl->mainloop.get());
    impl->capturing = false;
    impl->stream.reset();
    impl->callback = nullptr;
}

void PulseAudioCapture::setLostHandler(Lost lost) {
    if (!impl->mainloop)
        return;
    MainloopLock guard(impl->mainloop.get());
    impl->lost = std::move(lost);
}

} // namespace talvoro
