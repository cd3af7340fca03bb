// Linked into every program of the sanitized build: the options and leak suppressions hold
// even where a test starts a program with a clean environment (no ASAN_OPTIONS there).
// The suppressions come from tests/fuzz/lsan.supp.
extern "C" {

const char* __asan_default_options()
{
    return "halt_on_error=1:detect_leaks=1:print_stacktrace=1";
}

const char* __ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1";
}

const char* __lsan_default_suppressions()
{
    return CAMERA_LSAN_SUPPRESSIONS;
}

}
