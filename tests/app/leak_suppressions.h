// Leaks that LeakSanitizer reports in the desktop libraries (fontconfig's
// caches, GTK's and GLib's process-lifetime singletons) and that no program
// of theirs frees before it exits. Only frames in those libraries match, so
// a leak of our own code is still reported.
#ifndef QXR8_TESTS_APP_LEAK_SUPPRESSIONS_H_
#define QXR8_TESTS_APP_LEAK_SUPPRESSIONS_H_

namespace app_test {

inline constexpr char kGuiLeakSuppressions[] =
    "leak:libfontconfig.so\n"
    "leak:libpango\n"
    "leak:libcairo.so\n"
    "leak:libgtk-x11-2.0.so\n"
    "leak:libgdk-x11-2.0.so\n"
    "leak:libgdk_pixbuf-2.0.so\n"
    "leak:libglib-2.0.so\n"
    "leak:libgobject-2.0.so\n"
    "leak:libgio-2.0.so\n"
    "leak:libX11.so\n"
    // The accessibility modules and bus of the screen-reader test.
    "leak:libgail.so\nleak:libatk-1.0.so\nleak:libatk-bridge\nleak:libatspi.so\nleak:libdbus-1.so\n";

}  // namespace app_test

#endif  // QXR8_TESTS_APP_LEAK_SUPPRESSIONS_H_
