// Linked into every test program, and into the program in AddressSanitizer builds. Two
// libraries keep what they made until the process ends, on purpose: ONNX Runtime leaks a few
// bytes in CreateEnv, once per process, and in a once-only set-up on each of its worker
// threads; Qt's font database keeps its FreeType faces, font engines and shaping caches; QtDBus
// keeps its session-bus connection, with libdbus's buffers, on a thread that outlives main().
// Everything else must be freed. The runtime is built without frame pointers, so only the
// slow unwinder reaches our frames. A sanitizer's report ends the process with a status of its
// own: the program's own statuses are 0, 1 and 2, and a test that expects 1 must not take a
// report for it.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0:exitcode=86";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:talvoro::ORT::env\n"
           "leak:__pthread_once_slow\n"
           "leak:QFontconfigDatabase\n"
           "leak:QFreetypeFace\n"
           "leak:QFontEngine\n"
           "leak:QFontCache\n"
           "leak:QFontDatabasePrivate\n"
           "leak:libfreetype.so\n"
           "leak:libfontconfig.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libdbus-1.so\n";
}
