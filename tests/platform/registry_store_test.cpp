#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/fixture.h"

namespace kestrel {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Store(const std::string& dir, const std::string& contents) {
    const std::string path = test::TempDir(dir) + "/registry";
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

TEST(RegistryStore, ReadsValuesAndTreatsTheRestAsAbsent) {
    RegistryStore reg(Store("reg_read",
                            "# installer\r\nRunNum=5\r\nJoinImproveSoft=1\nEmpty=\n"
                            "ReportServer=10.0.0.1\nnoequals\nText=a=b 中文"));
    std::string v;
    EXPECT_TRUE(reg.Read("RunNum", v));
    EXPECT_EQ(v, "5");
    EXPECT_TRUE(reg.Read("runnum", v));  // names ignore case
    EXPECT_TRUE(reg.Read("JoinImproveSoft", v));
    EXPECT_EQ(v, "1");
    EXPECT_TRUE(reg.Read("Empty", v));
    EXPECT_EQ(v, "");
    EXPECT_TRUE(reg.Read("Text", v));
    EXPECT_EQ(v, "a=b 中文");
    EXPECT_FALSE(reg.Read("Missing", v));
    EXPECT_FALSE(reg.Read("noequals", v));
    EXPECT_FALSE(reg.Read("", v));

    RegistryStore none(test::TempDir("reg_none") + "/registry");
    EXPECT_FALSE(none.Read("RunNum", v));
}

TEST(RegistryStore, WritesRewriteTheExistingFileOnly) {
    const std::string path = Store("reg_write", "# keep me\nRunNum=1\nOther=x\n");
    ::chmod(path.c_str(), 0640);
    RegistryStore reg(path);
    EXPECT_TRUE(reg.Write("RunNum", "2"));
    EXPECT_TRUE(reg.Write("New", "v"));
    EXPECT_EQ(Slurp(path), "# keep me\nRunNum=2\nOther=x\nNew=v\n");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    EXPECT_FALSE(reg.Write("", "v"));
    EXPECT_FALSE(reg.Write("A=B", "v"));
    EXPECT_FALSE(reg.Write("Line", "two\nlines"));
    EXPECT_EQ(Slurp(path), "# keep me\nRunNum=2\nOther=x\nNew=v\n");

    // The key is opened, never created.
    const std::string missing = test::TempDir("reg_write_missing") + "/registry";
    RegistryStore none(missing);
    EXPECT_FALSE(none.Write("RunNum", "1"));
    struct stat st2;
    EXPECT_NE(::stat(missing.c_str(), &st2), 0);
}

TEST(RegistryStore, HostileFilesReadAsAbsent) {
    std::string v;
    // Binary noise with a NUL inside a line and no final line break.
    RegistryStore noise(Store("reg_noise", std::string("\x01\xff=\0\nRunNum=7\0x", 15)));
    EXPECT_TRUE(noise.Read("RunNum", v));
    EXPECT_EQ(v, std::string("7\0x", 3));
    // Far larger than any store we write: not ours, nothing is read from it.
    RegistryStore huge(Store("reg_huge", "RunNum=1\n" + std::string(2 << 20, 'x')));
    EXPECT_FALSE(huge.Read("RunNum", v));
    EXPECT_FALSE(huge.Write("RunNum", "2"));
    // A folder in the key's place.
    RegistryStore folder(test::TempDir("reg_folder"));
    EXPECT_FALSE(folder.Read("RunNum", v));
    EXPECT_FALSE(folder.Write("RunNum", "2"));
}

TEST(RegistryStore, LocationFollowsTheEnvironment) {
    const char* oldReg = std::getenv("KESTREL_REGISTRY");
    const std::string keepReg = oldReg ? oldReg : "";
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string keepXdg = oldXdg ? oldXdg : "";

    setenv("KESTREL_REGISTRY", "/some/where/registry", 1);
    EXPECT_EQ(RegistryStore::DefaultPath(), "/some/where/registry");

    unsetenv("KESTREL_REGISTRY");
    const std::string xdg = test::TempDir("reg_xdg");
    setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    EXPECT_EQ(RegistryStore::DefaultPath(), "/etc/Norvale/Kestrel/registry");
    ::mkdir((xdg + "/Norvale").c_str(), 0700);
    ::mkdir((xdg + "/Norvale/Kestrel").c_str(), 0700);
    std::ofstream(xdg + "/Norvale/Kestrel/registry") << "RunNum=1\n";
    EXPECT_EQ(RegistryStore::DefaultPath(), xdg + "/Norvale/Kestrel/registry");

    if (oldReg) setenv("KESTREL_REGISTRY", keepReg.c_str(), 1);
    if (oldXdg)
        setenv("XDG_CONFIG_HOME", keepXdg.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace kestrel
