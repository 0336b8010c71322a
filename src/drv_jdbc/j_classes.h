// Class files of the two Java support classes the bridge defines in the VM:
// quillmar/support/XAXid (the XA transaction identifier handed to XAResource)
// and quillmar/support/ZNTClassLoader (the loader over the JDBC jar files).
// The arrays are generated at build time from the sources under java/.
#pragma once

namespace kx {

extern const unsigned char kXidClassFile[];
extern const unsigned kXidClassFileSize;
extern const unsigned char kLoaderClassFile[];
extern const unsigned kLoaderClassFileSize;

}  // namespace kx
