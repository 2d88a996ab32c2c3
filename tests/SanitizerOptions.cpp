// Linked into every test program of a sanitizer build: the runtimes' default
// options, so that a program behaves the same whether CTest runs it, the build's
// test discovery lists it or someone starts it by hand. ASAN_OPTIONS, LSAN_OPTIONS,
// UBSAN_OPTIONS and TSAN_OPTIONS in the environment still override them.

#define TESSALINE_SANITIZER_HOOK extern "C" __attribute__ ((visibility ("default"), used)) const char*

// Leaks that the framework makes and no test can avoid are suppressed by name in
// the file, each with the reason; a new leak fails the test.
TESSALINE_SANITIZER_HOOK __lsan_default_options()
{
    return "suppressions=" TESSALINE_SANITIZER_SUPPRESSIONS_DIR "/lsan.supp:print_suppressions=0";
}

TESSALINE_SANITIZER_HOOK __asan_default_options()
{
    return "detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1";
}

// The build stops at the first finding (-fno-sanitize-recover); the trace says where.
TESSALINE_SANITIZER_HOOK __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

// Every race of a run is reported, and any report makes the program exit with 66.
TESSALINE_SANITIZER_HOOK __tsan_default_options()
{
    return "suppressions=" TESSALINE_SANITIZER_SUPPRESSIONS_DIR "/tsan.supp:second_deadlock_stack=1:print_suppressions=0";
}

#if defined(__SANITIZE_ADDRESS__)
// Libraries that a system library opens and closes again (Mesa's OpenGL driver,
// behind an editor's OpenGL context) would take the pointers to their own
// allocations with them when they are unmapped, and the leak check at exit would
// report those allocations as leaked, from an unknown module. Kept mapped, they are
// checked like everything else.
extern "C" __attribute__ ((visibility ("default"), used)) int dlclose (void*)
{
    return 0;
}
#endif
