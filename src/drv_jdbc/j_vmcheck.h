// Trying Java VM options in a child process before the VM is created in the
// host. A VM that does not like its options (a heap it cannot reserve, two
// collectors, an agent library it cannot find) reports the fact and ends the
// process it runs in; in a child that is only the child, and its report becomes
// the connect error instead.
#pragma once

#include <string>
#include <vector>

namespace kx {

enum class VmOptionCheck {
  kAccepted,   // the launcher started a VM with the options
  kRejected,   // the VM refused them; *message holds its own words
  kUnchecked,  // no answer (no launcher, no child, out of time): not known
};

// How long the child may take before the options count as unchecked.
constexpr int JVM_OPTION_CHECK_SECONDS = 20;

// The java launcher of the Java home a libjvm.so belongs to: bin/java in the
// nearest directory above the library that has one; "" when none has.
std::string JVM_LauncherNear(const std::string& libjvmPath);

// Runs `launcher <options> -version` with the VM's own handling of options it
// does not know (ignored, as in the host) and its output captured.
// Rejected: *message is what the VM wrote, without the launcher's and the
// version's lines, on one line. Thread-safe; never touches the host's signal
// handlers or its other children.
VmOptionCheck JVM_CheckOptions(const std::string& launcher, const std::vector<std::string>& options,
                               int timeoutSeconds, std::string* message);

// What a VM wrote, on one line: its own lines, without the launcher's and the
// version banner's (all of it when nothing else is left); "" for no text.
std::string JVM_ReasonText(const std::string& output);

}  // namespace kx
