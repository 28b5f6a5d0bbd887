#include "platform/win/registry.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <fstream>
#include <iterator>

#include "platform/inlet/inlet.h"
#include "tests/support/test_world.h"

namespace {

using platform::Registry;
using platform::RegistryError;

class RegistryTest : public testing_support::TestWorld {
 protected:
  void WriteFile(const std::string& text) { std::ofstream(RegistryFile(), std::ios::binary) << text; }
  std::string ReadFile() {
    std::ifstream in(RegistryFile(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
};

TEST_F(RegistryTest, MissingOrEmptyFileHoldsNothingAndATypeMismatchReadsAsAbsent) {
  int value = 42;
  EXPECT_EQ(ReadRegistryPath("A\\B", value, HKEY_LOCAL_MACHINE), 0);
  WriteFile("");
  EXPECT_EQ(ReadRegistryPath("A\\B", value, HKEY_LOCAL_MACHINE), 0);
  EXPECT_TRUE(ui.MessageBoxes().empty());
  WriteRegistryPath("K\\V", CString("text"), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(ReadRegistryPath("K\\V", value, HKEY_LOCAL_MACHINE), 0);
}

TEST_F(RegistryTest, WritingOneValueKeepsEveryOther) {
  ASSERT_EQ(WriteRegistryFullPath("SOFTWARE\\X\\Text", "C:\\Temp \"quoted\"", HKEY_LOCAL_MACHINE), 1);
  ASSERT_EQ(WriteRegistryPath("Inlets\\Flag", 7, HKEY_LOCAL_MACHINE), 1);
  ASSERT_EQ(WriteRegistryPath("Inlets\\Other", 3, HKEY_LOCAL_MACHINE), 1);
  ASSERT_EQ(WriteRegistryPath("Inlets\\Flag", 0, HKEY_LOCAL_MACHINE), 1);
  CString text;
  int flag = -1, other = -1;
  EXPECT_EQ(ReadRegistryFullPath("SOFTWARE\\X\\Text", text, HKEY_LOCAL_MACHINE), 1);
  EXPECT_EQ(text, "C:\\Temp \"quoted\"");
  EXPECT_EQ(ReadRegistryPath("Inlets\\Flag", flag, HKEY_LOCAL_MACHINE), 1);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(ReadRegistryPath("inlets\\OTHER", other, HKEY_LOCAL_MACHINE), 1);  // names ignore case
  EXPECT_EQ(other, 3);
  EXPECT_FALSE(std::filesystem::exists(RegistryFile().string() + ".tmp"));
}

TEST_F(RegistryTest, FileIsARegistryExportAUserCanRead) {
  WriteRegistryPath("Inlets\\InletKernel\\QuarnControl\\Configuration\\NetBoxComms", 1, HKEY_LOCAL_MACHINE);
  const std::string text = ReadFile();
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvatec\\Inlets\\InletKernel\\QuarnControl\\Configuration]\n"
                      "\"NetBoxComms\"=dword:00000001\n"),
            std::string::npos)
      << text;
}

struct DamagedCase {
  std::string text;
  int line;
};

class DamagedRegistryTest : public RegistryTest, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedRegistryTest, IsReportedWithItsLineAndNeverReplaced) {
  WriteFile(GetParam().text);
  int value = 5;
  EXPECT_EQ(ReadRegistryPath("Inlets\\Flag", value, HKEY_LOCAL_MACHINE), 0);
  EXPECT_EQ(WriteRegistryPath("Inlets\\Flag", 0, HKEY_LOCAL_MACHINE), 0);
  EXPECT_EQ(ReadFile(), GetParam().text);
  const auto boxes = ui.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u) << "the same damage is shown once";
  EXPECT_NE(boxes[0].find(RegistryFile().string()), std::string::npos);
  EXPECT_NE(boxes[0].find("line " + std::to_string(GetParam().line)), std::string::npos) << boxes[0];
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedRegistryTest,
    ::testing::Values(DamagedCase{"[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:1\n", 2}, DamagedCase{"garbage\n", 1},
                      DamagedCase{"\"x\"=\"before any key\"\n", 1}, DamagedCase{"; ok\n[HKEY_LOCAL_MACHINE\\A\n", 2},
                      DamagedCase{"[NOT_A_ROOT\\A]\n", 1}, DamagedCase{std::string("\x00\x01\xff\n", 4), 1},
                      DamagedCase{"[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"unterminated\n", 2}),
    [](const auto& param_info) { return "Case" + std::to_string(param_info.index); });

TEST_F(RegistryTest, UnwritableFolderIsAFailedWriteNotACrash) {
  Registry::UseFileForTesting("/proc/quarn-no-such-folder/registry.reg");
  EXPECT_EQ(WriteRegistryPath("K\\V", 1, HKEY_LOCAL_MACHINE), 0);
  EXPECT_EQ(ui.MessageBoxes().size(), 1u);
}

#if !defined(_WIN32)  // forks a second process
TEST_F(RegistryTest, ASecondProcessReadsWhatWasWritten) {
  WriteRegistryPath("Inlets\\Shared", 1234, HKEY_LOCAL_MACHINE);
  const std::string file = RegistryFile().string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const Registry fresh(file);
    const auto value = fresh.Read(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvatec\\Inlets", "Shared");
    _exit(value && std::get<std::uint32_t>(*value) == 1234 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

TEST(RegistryFormatTest, RoundTripsEveryValueKind) {
  platform::RegistryContents contents;
  contents["HKEY_LOCAL_MACHINE\\A\\B"]["n"] = std::uint32_t{0xFFFFFFFF};
  contents["HKEY_LOCAL_MACHINE\\A\\B"]["t"] = std::string("back\\slash \"q\" \xB5");
  EXPECT_EQ(Registry::Parse(Registry::Serialise(contents), "f"), contents);
  // An older single-byte file: a byte that stands for no character reads as
  // '?', so writing it back as UTF-8 reads the same (a fuzzer's finding).
  const auto legacy = Registry::Parse("[HKEY_LOCAL_MACHINE\\A\x81]\n\"t\"=\"\xB5\x9D\"\n", "f");
  EXPECT_EQ(legacy.at("HKEY_LOCAL_MACHINE\\A?").at("t"), platform::RegistryValue(std::string("\xB5?")));
  EXPECT_EQ(Registry::Parse(Registry::Serialise(legacy), "f"), legacy);
}

TEST(RegistryFormatTest, ContinuedValuesLoseEveryBackslashAndRoundTrip) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\A]\r\n";
  for (const std::string& file : {key + "\"Bin\"=hex:01,\\\r\n  02,\\\r\n  03\r\n\"N\"=dword:00000002\r\n",
                                   key + "\"Bin\"=hex:01,02,03\\\\\n\n\"N\"=dword:00000002",
                                   key + "\"N\"=dword:00000002\n\"Bin\"=hex:01,02,03 \\ \\"}) {
    const platform::RegistryContents contents = Registry::Parse(file, "f");
    EXPECT_EQ(contents.at("HKEY_LOCAL_MACHINE\\A").at("Bin"),
              platform::RegistryValue(platform::RegistryOtherValue{"hex:01,02,03"})) << file;
    EXPECT_EQ(Registry::Parse(Registry::Serialise(contents), "f"), contents) << file;
  }
}

TEST(RegistryFormatTest, DefaultPathFollowsTheEnvironment) {
  testing_support::SetEnv("QUARN_REGISTRY", "/tmp/somewhere/r.reg");
  EXPECT_EQ(platform::DefaultRegistryPath(), "/tmp/somewhere/r.reg");
  testing_support::UnsetEnv("QUARN_REGISTRY");
#if defined(_WIN32)
  EXPECT_TRUE(platform::DefaultRegistryPath().empty());  // the system's registry
#else
  EXPECT_EQ(platform::DefaultRegistryPath().filename(), "registry.reg");
#endif
}

#if defined(_WIN32)
// Without a file the settings live in the system's registry: what the
// plug-in writes the system's own functions read back, and a value of the
// other type is refused there too.
TEST_F(RegistryTest, WithoutAFileTheSystemsRegistryHoldsTheSettings) {
  Registry::UseFileForTesting({});
  const std::string key = "Inlets\\Test" + std::to_string(GetCurrentProcessId());
  const std::string full = "SOFTWARE\\Korvatec\\" + key;
  ASSERT_EQ(WriteRegistryPath(CString((key + "\\Count").c_str()), 1234, HKEY_CURRENT_USER), 1);
  DWORD value = 0;
  DWORD size = sizeof value;
  EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, full.c_str(), "Count", RRF_RT_REG_DWORD, nullptr, &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 1234u);
  int read = 0;
  EXPECT_EQ(ReadRegistryPath(CString((key + "\\Count").c_str()), read, HKEY_CURRENT_USER), 1);
  EXPECT_EQ(read, 1234);
  EXPECT_THROW(Registry::Get().Write(HKEY_CURRENT_USER, full, "Count", std::string("text")), platform::RegistryError);
  Registry::Get().Delete(HKEY_CURRENT_USER, full, "Count");
  EXPECT_FALSE(Registry::Get().Read(HKEY_CURRENT_USER, full, "Count").has_value());
  RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Korvatec\\Inlets");
}
#endif

}  // namespace
