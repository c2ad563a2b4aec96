# Writes a C++ source that holds a binary file as a byte array, SYMBOL in
# namespace NAMESPACE.
#   cmake -DINPUT=file.res -DOUTPUT=file.cpp -DNAMESPACE=sim -DSYMBOL=kProgramResources -P embed.cmake
foreach(required INPUT OUTPUT NAMESPACE SYMBOL)
  if(NOT ${required})
    message(FATAL_ERROR "embed.cmake needs -D${required}=")
  endif()
endforeach()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}"
"// Generated from ${INPUT}; do not edit.\n"
"#include <cstddef>\n"
"namespace ${NAMESPACE} {\n"
"extern const unsigned char ${SYMBOL}[];\n"
"extern const std::size_t ${SYMBOL}Size;\n"
"alignas(4) const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\n"
"const std::size_t ${SYMBOL}Size = ${size};\n"
"} // namespace ${NAMESPACE}\n")
