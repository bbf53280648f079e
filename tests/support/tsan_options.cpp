// ThreadSanitizer builds of the tests and of the program leave alone the libraries that
// are not built for it (tsan.supp beside this file).
extern "C" const char* __tsan_default_options() {
    return "suppressions=" TALVORO_SOURCE_DIR "/tests/support/tsan.supp";
}
