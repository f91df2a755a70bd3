#include "platform/TerminationSignals.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <vector>

namespace {

volatile std::sig_atomic_t previousHandlerRan = 0;

void previousHandler(int) {
    previousHandlerRan = 1;
}

// Gives SIGHUP an action, as whoever started the process may have, until the end of a test.
class PreviousHangUpAction {
public:
    explicit PreviousHangUpAction(void (*handler)(int)) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        EXPECT_EQ(sigaction(SIGHUP, &action, &saved), 0);
    }
    ~PreviousHangUpAction() { sigaction(SIGHUP, &saved, nullptr); }

private:
    struct sigaction saved {};
};

TEST(TerminationSignals, EachSignalReachesTheEventLoopAlsoANestedOneAndNotTheProcess) {
    std::vector<int> received;
    TerminationSignals caught([&received](int number) { received.push_back(number); });
    ASSERT_TRUE(caught.isActive());
    for (const bool nested : {false, true}) {
        for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
            SCOPED_TRACE(std::string(sigabbrev_np(number)) + (nested ? " nested" : ""));
            received.clear();
            if (nested) {
                // A modal dialog's loop: the signal arrives while it runs and is read there.
                QEventLoop loop;
                QTimer::singleShot(0, &loop, [number] { std::raise(number); });
                QTimer::singleShot(2000, &loop, &QEventLoop::quit);
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                    if (!received.empty())
                        loop.quit();
                });
                poll.start(5);
                loop.exec();
            } else {
                std::raise(number);
                EXPECT_TRUE(QTest::qWaitFor([&] { return !received.empty(); }, 2000));
            }
            EXPECT_EQ(received, std::vector<int>{number});
        }
    }
}

TEST(TerminationSignals, TheirEndGivesTheSignalsBackToWhatHandledThemBefore) {
    const PreviousHangUpAction previous(previousHandler);
    int received = 0;
    {
        TerminationSignals caught([&received](int) { ++received; });
        std::raise(SIGHUP);
        EXPECT_TRUE(QTest::qWaitFor([&] { return received > 0; }, 2000));
    }
    EXPECT_EQ(received, 1);
    EXPECT_EQ(previousHandlerRan, 0);
    std::raise(SIGHUP);
    EXPECT_EQ(previousHandlerRan, 1);
}

TEST(TerminationSignals, ASignalIgnoredBeforeStaysIgnored) {
    // As under nohup: a closed terminal must not end the process.
    const PreviousHangUpAction ignored(SIG_IGN);
    int received = 0;
    TerminationSignals caught([&received](int) { ++received; });
    std::raise(SIGHUP);
    std::raise(SIGTERM);
    EXPECT_TRUE(QTest::qWaitFor([&] { return received > 0; }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(received, 1) << "only SIGTERM";
}

} // namespace
