// The console's event loop on real descriptors: readiness, a callback that
// unwatches itself or another, input that epoll cannot watch, functions
// posted from another thread, timers.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "console/event_loop.h"
#include "support/files.h"

namespace tolvar {
namespace {

TEST(EventLoop, DescriptorsPostedFunctionsAndTimers) {
    EventLoop loop;
    std::string seen;
    int a[2], b[2];
    ASSERT_EQ(pipe2(a, O_CLOEXEC | O_NONBLOCK), 0);
    ASSERT_EQ(pipe2(b, O_CLOEXEC | O_NONBLOCK), 0);
    // Both turn readable at once; the first to run unwatches both.
    const auto drain = [](int fd) {
        char buf[16];
        while (read(fd, buf, sizeof buf) > 0) {
        }
    };
    loop.Watch(a[0], [&] {
        seen += "a";
        drain(a[0]);
        loop.Unwatch(a[0]);
        loop.Unwatch(b[0]);
    });
    loop.Watch(b[0], [&] {
        seen += "b";
        drain(b[0]);
        loop.Unwatch(a[0]);
        loop.Unwatch(b[0]);
    });
    ASSERT_EQ(write(a[1], "x", 1), 1);
    ASSERT_EQ(write(b[1], "x", 1), 1);

    // Input from a file, which epoll refuses: readable until it is unwatched.
    test::TempDir dir;
    test::WriteAll(dir.File("input"), "quit\n");
    const int file = open(dir.File("input").c_str(), O_RDONLY | O_CLOEXEC);
    int reads = 0;
    loop.Watch(file, [&] {
        char buf[16];
        if (read(file, buf, sizeof buf) <= 0) loop.Unwatch(file);
        ++reads;
    });

    std::thread other([&] { loop.Post([&] { seen += "p"; }); });
    other.join();
    const auto cancelled = loop.Schedule(5, [&] { seen += "never"; });
    loop.Cancel(cancelled);
    loop.Schedule(20, [&] { seen += "2"; });
    loop.Schedule(10, [&] { seen += "1"; });
    loop.Schedule(30, [&] {
        seen += "q";
        loop.Quit(7);
    });
    EXPECT_EQ(loop.Run(), 7);
    EXPECT_EQ(seen.size(), 5u) << seen;  // one of a and b, p, 1, 2, q
    EXPECT_NE(seen.find_first_of("ab"), std::string::npos) << seen;
    EXPECT_NE(seen.find("p"), std::string::npos) << seen;
    EXPECT_EQ(seen.substr(seen.size() - 3), "12q");
    EXPECT_EQ(reads, 2);  // the line, then the end
    for (int fd : {a[0], a[1], b[0], b[1], file}) close(fd);
}

}  // namespace
}  // namespace tolvar
