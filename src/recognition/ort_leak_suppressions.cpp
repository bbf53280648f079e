// Linked into test programs that open runtime sessions, and into the program in
// AddressSanitizer builds. The runtime leaks a few bytes of its own: in CreateEnv, once per
// process, and in a once-only set-up on each of its worker threads. Everything else must be
// freed. The runtime is built without frame pointers, so only the slow unwinder reaches our
// frames.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:talvoro::ORT::env\n"
           "leak:__pthread_once_slow\n";
}
