# Writes the bytes of a compiled resource file (INPUT) as a C++ array for the native stand-in's
# dialogs (OUTPUT). Run with cmake -P.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT} by win32_shim/embed_resources.cmake.\n#include <stddef.h>\n"
  "extern const unsigned char shim_embedded_resources[] = {\n${bytes}};\n"
  "extern const size_t shim_embedded_resources_size = ${size};\n")
