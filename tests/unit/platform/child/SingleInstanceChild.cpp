// A start of the application as far as its single-instance claim goes: it claims the name
// given, says on stdout whether it runs ("primary") or left the work to a running instance
// ("secondary"), and, while it runs, says "activated" for every request it gets. It ends
// after the number of requests given, or after the time limit.
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 4) {
        std::fprintf(stderr, "usage: %s <name> <requests> <limit-ms>\n", argv[0]);
        return 2;
    }
    const int expectedRequests = arguments[2].toInt();
    int requests = 0;
    const auto claim = SingleInstance::claim(arguments[1], [&] {
        say("activated");
        if (++requests == expectedRequests)
            application.quit();
    });
    if (!claim.instance) {
        say("secondary");
        return claim.answered ? 0 : 1;
    }
    say("primary");
    QTimer::singleShot(arguments[3].toInt(), &application, &QCoreApplication::quit);
    return application.exec();
}
