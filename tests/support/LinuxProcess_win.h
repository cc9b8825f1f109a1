// A Wine program seen as the Linux process it is, through the drive that maps
// the host's root (Z:): for what Wine does not report about another process.
#pragma once

#include <string>

namespace testing_support {

// The Linux process id of the one running Wine program started from
// `exePath` (a Windows path: Wine shows it first on the process's command
// line) in this process's Wine prefix; 0 when none or more than one runs.
int LinuxPidOf(const std::string& exePath);

// CPU time the process has used so far, user and system, all its threads,
// in seconds (its own /proc entry); -1 when it cannot be read. Under Wine
// the platform's process times of another process are always 0.
double LinuxProcessCpuSeconds(int linuxPid);

}  // namespace testing_support
