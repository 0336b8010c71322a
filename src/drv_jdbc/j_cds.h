// The class-data archive of the driver's Java VM. A new VM spends much of a
// first connect reading, parsing and verifying the classes the JDK and the
// JDBC library need for it. The installation runs those classes once in a VM
// of the driver's own options and has the VM write them, ready to map, into
// an archive in the jar directory (kestrix-cds does it); the driver's VM maps
// that archive when it starts. A stamp beside the archive names the VM
// library it was made by and the archive's own size and time: an archive the
// stamp does not describe (a JDK upgraded since, an archive changed or cut
// short) is left out, and the VM starts without it as it would without one.
#pragma once

#include <string>
#include <vector>

namespace kx {

// The archive's and the stamp's file names in the jar directory.
extern const char* const JDB_CLASS_ARCHIVE;
extern const char* const JDB_CLASS_ARCHIVE_STAMP;

// The stamp text for the archive file made by the VM library at jvmPath;
// "" when either file cannot be read.
std::string JVM_ClassArchiveStamp(const std::string& archivePath, const std::string& jvmPath);

// The VM options that map the archive of jarDir (ending in '/'), for a VM
// from the library at jvmPath with the user's options: none when there is no
// archive, when its stamp does not describe it and that library, or when
// the user's options deal with class sharing themselves. *why says why an
// archive that is there is left out ("" otherwise).
std::vector<std::string> JVM_ClassArchiveOptions(const std::string& jarDir, const std::string& jvmPath,
                                                 const std::vector<std::string>& user, std::string* why);

// Makes the archive of jarDir: a VM of the driver's options (the user's
// ZNT_JVM_OPTS left out), started in a child process, loads the named classes
// (binary names, one a line; the JDBC libraries' through the driver's loader
// over jarDir) and writes them when it ends; the archive is tried with the
// VM's launcher, then put in place and stamped. Any old archive stops being
// used first. 0, or -1 with *message saying why; *message also reports a
// success.
int JVM_MakeClassArchive(const std::string& jarDir, const char* classNames, int timeoutSeconds,
                         std::string* message);

}  // namespace kx
