#include "app/reports.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "app/run_state.h"
#include "app/user_interaction.h"
#include "loopback_listener.h"
#include "platform/bytes.h"
#include "tests/support/fixture.h"
#include "tests/support/recording_ui.h"

namespace kestrel {
namespace {

using test::LoopbackListener;

using test::RecordingUi;

// Points the report channel at a loopback listener for one test.
class ReportChannel : public ::testing::Test {
protected:
    void SetUp() override {
        SetUserInteraction(&ui);
        SetReportServer("127.0.0.1");
        SetReportPort(listener.port());
        kestrel::Run().InstallId = u"test-id";
        kestrel::Run().ImproveConsent = 1;
        StartReportQueueWorker();
    }
    void TearDown() override {
        WaitReportQueueIdle(5000);
        kestrel::Run().InstallId.clear();
        kestrel::Run().ImproveConsent = 0;
        SetReportServer("");
        SetReportPort(kReportPort);
        SetUserInteraction(nullptr);
    }
    static std::string TextOf(const std::vector<uint8_t>& p) {
        return std::string(reinterpret_cast<const char*>(p.data()) + 79);
    }
    LoopbackListener listener;
    RecordingUi ui;
};

TEST(ReportPacket, Layout) {
    const auto p = BuildReportPacket(23, u"机器-7", u"Disk scan error: 3 / 9");
    ASSERT_EQ(p.size(), 1104u);
    const ByteView v(p.data(), p.size());
    EXPECT_TRUE(v.Equals(0, "VRX ", 4));
    EXPECT_EQ(v.U32(4), 1104u);
    EXPECT_EQ(v.U8(8), 1);
    EXPECT_EQ(v.U8(9), 1);
    EXPECT_EQ(v.U32(10), 23u);
    EXPECT_TRUE(v.Equals(14, "\xBB\xFA\xC6\xF7-7\0", 7));  // GBK
    EXPECT_TRUE(v.Equals(79, "Disk scan error: 3 / 9\0", 23));
    for (size_t i = 79 + 23; i < 1104; ++i) ASSERT_EQ(p[i], 0) << i;
}

TEST(ReportPacket, LongTextsAreCutWithoutSplittingACharacter) {
    auto p = BuildReportPacket(0, u"id", WString(1200, u'a'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[79])), std::string(1024, 'a'));
    EXPECT_EQ(p[79 + 1024], 0);

    p = BuildReportPacket(0, u"id", u"a" + WString(600, u'文'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[79])).size(), 1023u);

    p = BuildReportPacket(0, WString(100, u'x'), u"");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[14])), std::string(64, 'x'));
    EXPECT_EQ(p[78], 0);
}

TEST(ReportPacket, DumpPacketAndUploadName) {
    const uint8_t dump[3] = {1, 2, 3};
    const auto p = BuildDumpPacket("3349_20260102_030405.dmp", u"abc", dump, 3);
    ASSERT_EQ(p.size(), 77u);
    const ByteView v(p.data(), p.size());
    EXPECT_TRUE(v.Equals(0, "VRX ", 4));
    EXPECT_EQ(v.U32(4), 77u);
    EXPECT_EQ(v.U8(8), 2);
    EXPECT_EQ(v.U8(9), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[10])), "3349_20260102_030405_abc.dmp");
    EXPECT_EQ(p[74], 1);
    EXPECT_EQ(p[76], 3);

    EXPECT_EQ(DumpUploadName("x.y.dmp", u""), "x.dmp");
    const std::string cut = DumpUploadName("3349_20260102_030405.dmp", WString(80, u'z'));
    EXPECT_EQ(cut.size(), 63u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".dmp");
}

TEST(ReportPacket, ConsentFilter) {
    auto report = [](uint32_t ev) { return BuildReportPacket(ev, u"id", u""); };
    std::vector<uint8_t> kind0 = report(0), kind2 = report(0), kind7 = report(0);
    kind0[8] = 0;
    kind2[8] = 2;
    kind7[8] = 7;
    struct Case {
        std::vector<uint8_t> packet;
        size_t len;
        bool withConsent, without;
    } cases[] = {
        {report(0), 1104, true, true},   {report(1), 1104, true, true},
        {report(3), 1104, true, true},   {report(18), 1104, true, true},
        {report(19), 1104, true, true},  {report(20), 1104, true, true},
        {report(25), 1104, true, true},  {report(2), 1104, true, false},
        {report(10), 1104, true, false}, {report(12), 1104, true, false},
        {report(16), 1104, true, false}, {report(22), 1104, true, false},
        {kind0, 1104, true, true},       {kind2, 1104, true, true},
        {kind7, 1104, true, false},      {report(0), 3, false, false},
        {report(0), 9, true, false},  // a kind-1 packet too short for its event code
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PassesConsentFilter(c.packet.data(), c.len, true), c.withConsent)
            << int(c.packet[8]) << "/" << ByteView(c.packet.data(), c.len).U32(10);
        EXPECT_EQ(PassesConsentFilter(c.packet.data(), c.len, false), c.without)
            << int(c.packet[8]) << "/" << ByteView(c.packet.data(), c.len).U32(10);
    }
}

TEST_F(ReportChannel, QueuedBurstArrivesInOrderOneConnectionEach) {
    for (int i = 0; i < 10; ++i) SendReport(22, "Scan minute: " + std::to_string(i));
    for (int i = 0; i < 10; ++i) {
        const auto got = listener.Accept(5000);
        ASSERT_TRUE(got.has_value()) << i;
        ASSERT_EQ(got->size(), 1104u);
        EXPECT_EQ(ByteView(got->data(), got->size()).U32(10), 22u);
        EXPECT_EQ(TextOf(*got), "Scan minute: " + std::to_string(i));
    }
    EXPECT_FALSE(listener.Accept(200).has_value());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ReportChannel, WithoutConsentOnlyTheListedEventsGoOut) {
    kestrel::Run().ImproveConsent = 0;
    SendReport(10, "");
    SendReport(19, "Mem size: 1");
    const auto got = listener.Accept(5000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(ByteView(got->data(), got->size()).U32(10), 19u);
    EXPECT_FALSE(listener.Accept(200).has_value());
}

TEST_F(ReportChannel, EmptyInstallIdSendsNoReport) {
    kestrel::Run().InstallId.clear();
    SendReport(0, "start");
    SendReport(1, "", false);
    WaitReportQueueIdle(5000);
    EXPECT_FALSE(listener.Accept(200).has_value());
}

TEST_F(ReportChannel, SynchronousSendAndServerAddressRules) {
    SendReport(1, WString(), false);  // returns after the send
    const auto got = listener.Accept(1000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(ByteView(got->data(), got->size()).U32(10), 1u);

    // Unconfigured: nothing is sent and nothing is shown.
    SetReportServer("");
    SendReport(1, WString(), false);
    EXPECT_TRUE(ui.messages.empty());
    // Configured but not an IPv4 address: the message, and the packet is dropped.
    SetReportServer("report.example");
    SendReport(1, WString(), false);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], u"服务器IP地址不正确！");
    EXPECT_FALSE(listener.Accept(200).has_value());
}

TEST_F(ReportChannel, OldDumpsAreUploadedWhenSmallAndAlwaysDeleted) {
    const std::string dir = test::TempDir("old_dumps");
    auto write = [&](const std::string& name, size_t size) {
        std::ofstream out(dir + "/" + name, std::ios::binary);
        for (size_t i = 0; i < size; ++i) out.put(char(i % 251));
    };
    write("3349_20260101_000000.dmp", 300 * 1024);
    write("3349_20260102_000000.dmp", 10 * 1024);
    write("3349_20260103_000000.dmp", 0);
    write("notes.txt", 10);
    ::mkdir((dir + "/folder.dmp").c_str(), 0700);

    EXPECT_EQ(UploadOldDumps(dir), 1u);
    const auto got = listener.Accept(5000);
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->size(), 74u + 10240u);
    const ByteView v(got->data(), got->size());
    EXPECT_EQ(v.U32(4), 74u + 10240u);
    EXPECT_EQ(v.U8(8), 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(got->data() + 10)),
              "3349_20260102_000000_test-id.dmp");
    EXPECT_EQ(v.U8(74 + 250), 250);
    EXPECT_FALSE(listener.Accept(200).has_value());

    struct stat st;
    EXPECT_NE(::stat((dir + "/3349_20260101_000000.dmp").c_str(), &st), 0);
    EXPECT_NE(::stat((dir + "/3349_20260102_000000.dmp").c_str(), &st), 0);
    EXPECT_NE(::stat((dir + "/3349_20260103_000000.dmp").c_str(), &st), 0);
    EXPECT_EQ(::stat((dir + "/notes.txt").c_str(), &st), 0);
    EXPECT_EQ(::stat((dir + "/folder.dmp").c_str(), &st), 0);
}

}  // namespace
}  // namespace kestrel
