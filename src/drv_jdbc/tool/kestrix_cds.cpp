// kestrix-cds JAR-DIRECTORY: makes the class-data archive the driver's Java VM
// maps when it starts, in the jar directory (the one QXLibs or InstallDir
// names), for the Java VM the driver finds there and then. The installation
// runs it; run it again after a JDK upgrade (until then the driver starts its
// VM without the archive, as it would without one ever made).
#include <cstdio>
#include <cstring>
#include <string>

#include "drv_jdbc/j_cds.h"

namespace kx {
extern const char kConnectClassNames[];
}

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fprintf(stderr, "usage: %s JAR-DIRECTORY\n", argc > 0 ? argv[0] : "kestrix-cds");
    return 2;
  }
  std::string message;
  const int rc = kx::JVM_MakeClassArchive(argv[1], kx::kConnectClassNames, 600, &message);
  std::fprintf(rc == 0 ? stdout : stderr, "%s\n", message.c_str());
  return rc == 0 ? 0 : 1;
}
