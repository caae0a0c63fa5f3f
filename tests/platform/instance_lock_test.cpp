#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/fixture.h"

namespace kestrel {
namespace {

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstLetsGo) {
    const std::string path = test::TempDir("instance_lock") + "/kestrel.lock";
    InstanceLock first;
    ASSERT_TRUE(first.Acquire(path));
    EXPECT_TRUE(first.Held());

    InstanceLock second;
    EXPECT_FALSE(second.Acquire(path));
    // Another process is refused too.
    const pid_t child = ::fork();
    if (child == 0) {
        InstanceLock other;
        ::_exit(other.Acquire(path) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    first.Release();
    EXPECT_TRUE(second.Acquire(path));
}

TEST(InstanceLock, DefaultPathUsesTheRuntimeFolder) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = old ? old : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(InstanceLock::DefaultPath(), "/run/user/1234/kestrel.lock");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceLock::DefaultPath(), "/tmp/kestrel-" + std::to_string(::getuid()) + ".lock");
    if (old) setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

}  // namespace
}  // namespace kestrel
