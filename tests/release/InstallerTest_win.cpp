// The installer round trip under Wine: the built installer in silent mode,
// the installed agent started from where it landed, then the uninstaller.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "WineTestSupport_win.h"
#include "support/ScopedHandle.h"

namespace ts = testing_support;

namespace {

const std::string kSettingsKey = "Software\\QEX\\JoystickAgent";
const std::string kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QEXJoystick";
constexpr int kSetupTimeout = 120000;

std::string ShellFolder(int csidl) {
  wchar_t path[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::string();
  return ts::ToUtf8(path);
}

// Where a shortcut points, read through the shell as Explorer reads it.
std::string ShortcutTarget(const std::string& lnk) {
  std::string target;
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return target;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t path[MAX_PATH];
    if (SUCCEEDED(file->Load(ts::FromUtf8(lnk).c_str(), STGM_READ)) &&
        SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)))
      target = ts::ToUtf8(path);
    file->Release();
  }
  link->Release();
  return target;
}

// What is left in a folder, for a failure's message.
std::string Listing(const std::string& folder) {
  std::string names;
  WIN32_FIND_DATAW found;
  const ScopedFindHandle search(FindFirstFileW(ts::FromUtf8(folder + "\\*").c_str(), &found));
  if (!search) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names += " " + ts::ToUtf8(name);
  } while (FindNextFileW(search.Get(), &found));
  return names;
}

long RunAndWait(const std::string& exe, const std::string& arguments) {
  ts::ChildProcess process;
  if (!process.Start(exe, arguments)) return -2;
  return process.Wait(kSetupTimeout);
}

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    programs = ShellFolder(CSIDL_LOCAL_APPDATA);
    ASSERT_FALSE(programs.empty());
    folder = programs + "\\Programs\\QEXJoystick";
    exe = folder + "\\QEXJoystick.exe";
    uninstaller = folder + "\\Uninstall.exe";
    std::string menu = ShellFolder(CSIDL_PROGRAMS);
    ASSERT_FALSE(menu.empty());
    shortcut = menu + "\\QEXJoystick.lnk";
    // A previous run's leftovers would hide what this one does.
    ASSERT_FALSE(ts::FileExists(folder)) << folder;
    ASSERT_FALSE(ts::FileExists(shortcut)) << shortcut;
    ts::RegDeleteTree(kSettingsKey);
    ts::RegDeleteTree(kUninstallKey);
    ts::DeleteRegValue(kRunKey, "JoystickAgent");
  }
  void TearDown() override {
    if (agent.Running()) agent.Kill();
    CoUninitialize();
  }

  std::string programs, folder, exe, uninstaller, shortcut;
  ts::ChildProcess agent;
};

TEST_F(Installer, SilentInstallRunsAndSilentUninstallLeavesNothingBehind) {
  ASSERT_EQ(RunAndWait(ts::PathFromEnv("QEX_INSTALLER_EXE"), "/S"), 0);

  // This build's program, the uninstaller, a shortcut to the program, and an
  // entry in the user's list of installed programs.
  ASSERT_TRUE(ts::FileExists(exe)) << exe;
  EXPECT_TRUE(ts::ReadWholeFile(exe) == ts::ReadWholeFile(ts::AgentPath())) << "the installed program is not this build's";
  EXPECT_TRUE(ts::FileExists(uninstaller)) << uninstaller;
  ASSERT_TRUE(ts::FileExists(shortcut)) << shortcut;
  EXPECT_EQ(ShortcutTarget(shortcut), exe);
  EXPECT_NE(ts::RegValue(kUninstallKey, "UninstallString").find(uninstaller), std::string::npos);
  EXPECT_NE(ts::RegValue(kUninstallKey, "QuietUninstallString").find("/S"), std::string::npos);

  // The installed agent starts and shows its window; ticking its autorun box
  // writes the value the uninstaller must take away again, with this path.
  ASSERT_TRUE(agent.Start(exe));
  HWND main = ts::WaitForMainWindow(agent.Pid(), 30000);
  ASSERT_NE(main, nullptr) << "no main window";
  EXPECT_TRUE(IsWindowVisible(main));
  HWND autorun = ts::AgentControl(main, "chkAutoRun");
  ASSERT_NE(autorun, nullptr);
  PostMessageW(autorun, BM_CLICK, 0, 0);
  ASSERT_TRUE(ts::WaitUntil([] { return ts::RegValueExists(kRunKey, "JoystickAgent"); }, 10000));
  EXPECT_NE(ts::RegValue(kRunKey, "JoystickAgent").find(exe), std::string::npos);
  ts::RegSetString(kSettingsKey, "Address", "127.0.0.1:18884");

  // Uninstalling while the agent runs: it is asked to quit first. The
  // uninstaller runs on from a copy of itself, so wait for its effects.
  ASSERT_EQ(RunAndWait(uninstaller, "/S"), 0);
  EXPECT_GE(agent.Wait(30000), 0) << "the agent kept running";
  // It removes the files first, the registry entries last.
  EXPECT_TRUE(ts::WaitUntil([&] { return !ts::FileExists(folder) && !ts::RegKeyExists(kUninstallKey); }, 60000, 100));
  EXPECT_FALSE(ts::FileExists(folder)) << folder << ", left:" << Listing(folder);
  EXPECT_FALSE(ts::FileExists(shortcut));
  EXPECT_FALSE(ts::RegValueExists(kRunKey, "JoystickAgent"));
  EXPECT_FALSE(ts::RegKeyExists(kSettingsKey));
  EXPECT_FALSE(ts::RegKeyExists("Software\\QEX"));
  EXPECT_FALSE(ts::RegKeyExists(kUninstallKey));
}

// The agent's window goes before its process does, and the program file stays
// in use until the process has ended: both the installer (an upgrade while the
// agent runs) and the uninstaller must wait for the process, not the window.
// 7 s: longer than the uninstaller tries again to delete a file in use.
TEST_F(Installer, AnAgentThatEndsWellAfterItsWindowIsWaitedFor) {
  ASSERT_EQ(RunAndWait(ts::PathFromEnv("QEX_INSTALLER_EXE"), "/S"), 0);
  const std::string lateExit = ts::ReadWholeFile(ts::PathFromEnv("QEX_LATE_EXIT_EXE"));
  ASSERT_FALSE(lateExit.empty());
  auto startLateAgent = [&] {
    ASSERT_TRUE(ts::WriteWholeFile(exe, lateExit));
    ASSERT_TRUE(agent.Start(exe, "7000"));
    ASSERT_NE(ts::WaitForMainWindow(agent.Pid(), 30000), nullptr);
  };

  startLateAgent();
  ASSERT_EQ(RunAndWait(ts::PathFromEnv("QEX_INSTALLER_EXE"), "/S"), 0);
  EXPECT_GE(agent.Wait(0), 0) << "the installer ended before the running program";
  EXPECT_TRUE(ts::ReadWholeFile(exe) == ts::ReadWholeFile(ts::AgentPath())) << "the running program was not replaced";
  agent.Wait(30000);

  startLateAgent();
  ASSERT_EQ(RunAndWait(uninstaller, "/S"), 0);
  EXPECT_TRUE(ts::WaitUntil([&] { return !ts::RegKeyExists(kUninstallKey); }, 60000, 100));
  EXPECT_GE(agent.Wait(0), 0) << "the uninstaller ended before the running program";
  EXPECT_FALSE(ts::FileExists(folder)) << folder << ", left:" << Listing(folder);
}

}  // namespace
