// GoogleTest with a QApplication: the window's tests run under the offscreen platform unless
// QT_QPA_PLATFORM names another (a real X server, for instance).

#include <gtest/gtest.h>

#include <QApplication>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
// Qt (Debian's build, not made with ThreadSanitizer) hands memory between its own threads: it
// paints with worker threads it starts inside libQt6Gui, and one thread allocates what another
// frees, ordered by Qt's futex-based locks, which ThreadSanitizer cannot see. Its malloc and free
// interceptors then report a race on free whose both stacks lie inside Qt. This makes the
// interceptors ignore calls that come from modules built without ThreadSanitizer; every access
// made by our own (instrumented) code, Qt's inline templates included, is still checked. Our
// own hand-overs between threads go through std::mutex (app/qt/WindowThreadQueue.h), which the
// sanitizer follows. The preset's TSAN_OPTIONS are applied on top of this.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif
#endif

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
