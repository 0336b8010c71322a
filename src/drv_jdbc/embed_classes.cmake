# Writes the compiled support classes as C++ byte arrays (see j_classes.h).
# Run with -DCLASS_DIR=<javac output> -DOUT=<generated .cpp>.
set(text "// Generated from the bridge's Java sources; do not edit.\n#include \"drv_jdbc/j_classes.h\"\n\nnamespace kx {\n")
foreach(pair IN ITEMS "XAXid;kXidClassFile" "ZNTClassLoader;kLoaderClassFile"
                    "RowBlock;kRowBlockClassFile" "ParamBatch;kParamBatchClassFile"
                    "ClassTraining;kClassTrainingClassFile")
  list(GET pair 0 cls)
  list(GET pair 1 sym)
  set(path "${CLASS_DIR}/quillmar/support/${cls}.class")
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n  " bytes "${bytes}")
  string(APPEND text "\nconst unsigned char ${sym}[] = {\n  ${bytes}\n};\nconst unsigned ${sym}Size = ${size};\n")
endforeach()
string(APPEND text "\n}  // namespace kx\n")
file(WRITE "${OUT}" "${text}")
