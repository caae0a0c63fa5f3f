#include "app/kestrel_app.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "app/reports.h"
#include "app/run_state.h"
#include "app/user_interaction.h"
#include "loopback_listener.h"
#include "platform/bytes.h"
#include "platform/registry_store.h"
#include "tests/support/fixture.h"
#include "tests/support/recording_ui.h"

namespace kestrel {
namespace {

using test::LoopbackListener;

using test::RecordingUi;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A private lock, registry, machine id and dump folder for each test.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir = test::TempDir("app_" + name);
        opts.lockPath = dir + "/kestrel.lock";
        opts.registryPath = dir + "/registry";
        opts.dumpFolder = dir + "/dumps/";
        opts.machineIdPath = dir + "/machine-id";
        opts.installCrashHandler = false;
        ::mkdir(opts.dumpFolder.c_str(), 0700);
        std::ofstream(opts.machineIdPath) << "0123456789abcdef0123456789abcdef\n";
        SetUserInteraction(&ui);
        SetReportPort(listener.port());
    }
    void TearDown() override {
        WaitReportQueueIdle(5000);
        SetUserInteraction(nullptr);
        SetReportServer("");
        SetReportPort(kReportPort);
        kestrel::Run().InstallId.clear();
        kestrel::Run().ImproveConsent = 0;
    }
    void WriteRegistry(const std::string& text) { std::ofstream(opts.registryPath) << text; }

    std::string dir;
    AppStartupOptions opts;
    RecordingUi ui;
    LoopbackListener listener;
};

TEST_F(AppTest, SecondInstanceIsRefusedWithTheMessage) {
    CKestrelApp first;
    ASSERT_TRUE(first.Startup(opts));
    CKestrelApp second;
    EXPECT_FALSE(second.Startup(opts));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], u"已经有一个Kestrel软件运行了!");
    // The first instance still holds the lock.
    InstanceLock probe;
    EXPECT_FALSE(probe.Acquire(opts.lockPath));
    first.Shutdown(nullptr, 0);
    EXPECT_TRUE(probe.Acquire(opts.lockPath));
}

TEST_F(AppTest, RunNumberRules) {
    struct Case {
        const char* stored;  // nullptr: no value
        uint32_t run;
        const char* after;
    } cases[] = {
        {nullptr, 1, "1"}, {"", 1, "1"},   {"1", 2, "2"},
        {"5", 6, "6"},     {"}", 78, "~"}, {"~", 79, "~"},
        {"~x", 79, "~x"},  {"!", 1, "1"},  {"\xE4\xB8\xAD", 1, "1"},
    };
    for (const Case& c : cases) {
        WriteRegistry(c.stored ? std::string("Other=1\nRunNum=") + c.stored + "\n" : "Other=1\n");
        RegistryStore reg(opts.registryPath);
        EXPECT_EQ(CKestrelApp::NextRunNumber(reg), c.run) << (c.stored ? c.stored : "(none)");
        std::string v;
        ASSERT_TRUE(reg.Read("RunNum", v));
        EXPECT_EQ(v, c.after) << (c.stored ? c.stored : "(none)");
    }
    // Without the key the count is 1 every time and nothing is created.
    RegistryStore none(dir + "/no-registry");
    EXPECT_EQ(CKestrelApp::NextRunNumber(none), 1u);
    struct stat st;
    EXPECT_NE(::stat((dir + "/no-registry").c_str(), &st), 0);
}

TEST_F(AppTest, InstallIdIsShortStableAndPerMachine) {
    const WString a = CKestrelApp::ComputeInstallId(opts.machineIdPath);
    EXPECT_EQ(a.size(), 16u);
    EXPECT_EQ(CKestrelApp::ComputeInstallId(opts.machineIdPath), a);
    std::ofstream(dir + "/other-id") << "ffffffffffffffffffffffffffffffff\n";
    EXPECT_NE(CKestrelApp::ComputeInstallId(dir + "/other-id"), a);
    EXPECT_TRUE(CKestrelApp::ComputeInstallId(dir + "/missing").empty());
    std::ofstream(dir + "/blank-id") << "\n";
    EXPECT_TRUE(CKestrelApp::ComputeInstallId(dir + "/blank-id").empty());
}

TEST_F(AppTest, StartupReportsUploadsDumpsAndShutdownSendsTheExitReport) {
    WriteRegistry("RunNum=3\nJoinImproveSoft=1\nReportServer=127.0.0.1\n");
    std::ofstream(opts.dumpFolder + "3349_20260101_101010.dmp") << "dumpbytes";
    bool hookRan = false;
    CKestrelApp app;
    app.AddStartupHook([&] { hookRan = true; });
    bool released = false;
    app.AddShutdownHook([&] { released = true; });
    ASSERT_TRUE(app.Startup(opts));
    EXPECT_TRUE(hookRan);
    EXPECT_EQ(app.RunNumber(), 4u);
    EXPECT_EQ(kestrel::Run().ImproveConsent.load(), 1u);
    EXPECT_EQ(kestrel::Run().InstallId.size(), 16u);
    app.WaitStartupThread();

    const auto startup = listener.Accept(5000);
    ASSERT_TRUE(startup.has_value());
    ASSERT_EQ(startup->size(), 1104u);
    EXPECT_EQ(ByteView(startup->data(), startup->size()).U32(10), 0u);
    const std::string text(reinterpret_cast<const char*>(startup->data() + 79));
    EXPECT_TRUE(std::regex_match(
        text, std::regex(R"(Vexor 1 4 ver: 5\.3\.6     Svn ver: 3349     OS: \d+   \d+    64)"
                         R"(     AllMem: \d+   FreeMem: \d+)")))
        << text;

    const auto dump = listener.Accept(5000);
    ASSERT_TRUE(dump.has_value());
    ASSERT_EQ(dump->size(), 74u + 9u);
    const std::string name(reinterpret_cast<const char*>(dump->data() + 10));
    EXPECT_EQ(name, "3349_20260101_101010_" + Utf8FromWide(kestrel::Run().InstallId) + ".dmp");
    EXPECT_EQ(Slurp(opts.registryPath).find("RunNum=4"), 0u);

    ScanState scan{kScanRunning};
    app.Shutdown(&scan, 0);
    EXPECT_TRUE(released);
    EXPECT_EQ(scan.load(), kScanStopRequested);
    // Sent synchronously: it is already waiting when Shutdown returns.
    const auto exitReport = listener.Accept(1000);
    ASSERT_TRUE(exitReport.has_value());
    EXPECT_EQ(ByteView(exitReport->data(), exitReport->size()).U32(10), 1u);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(AppTest, UnconfiguredBuildSendsNothingAndShowsNothing) {
    WriteRegistry("JoinImproveSoft=0\n");
    CKestrelApp app;
    ASSERT_TRUE(app.Startup(opts));
    EXPECT_EQ(app.RunNumber(), 1u);
    EXPECT_EQ(kestrel::Run().ImproveConsent.load(), 0u);
    app.WaitStartupThread();
    app.Shutdown(nullptr, 0);
    WaitReportQueueIdle(5000);
    EXPECT_FALSE(listener.Accept(200).has_value());
    EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace kestrel
