// Sanitizer builds only: font and drawing libraries keep caches for the life of the
// process, which the leak checker would otherwise report at every exit of a program
// that drew text.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libcairo.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libfreetype.so\n"
           "leak:libX11.so\n";
}

// Keep the suppressions quiet: a clean exit prints nothing.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
