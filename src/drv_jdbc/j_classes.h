// Class files of the Java support classes the bridge defines in the VM:
// quillmar/support/XAXid (the XA transaction identifier handed to XAResource),
// quillmar/support/ZNTClassLoader (the loader over the JDBC jar files),
// quillmar/support/RowBlock (reads a block of result rows in one call) and
// quillmar/support/ParamBatch (adds a block of parameter rows to a batch in
// one call) and quillmar/support/ClassTraining (loads the classes a first
// connect needs, in the VM that makes the class-data archive).
// The arrays are generated at build time from the sources under java/.
#pragma once

namespace kx {

extern const unsigned char kXidClassFile[];
extern const unsigned kXidClassFileSize;
extern const unsigned char kLoaderClassFile[];
extern const unsigned kLoaderClassFileSize;
extern const unsigned char kRowBlockClassFile[];
extern const unsigned kRowBlockClassFileSize;
extern const unsigned char kParamBatchClassFile[];
extern const unsigned kParamBatchClassFileSize;
extern const unsigned char kClassTrainingClassFile[];
extern const unsigned kClassTrainingClassFileSize;

}  // namespace kx
