# cmake -DINPUT=file -DOUTPUT=source.cpp -DSYMBOL=name [-DSTRIP=strip] -P embed_file.cmake
# Writes a C++ source defining orvl::SYMBOL (the bytes of INPUT) and orvl::SYMBOL_size.
# Debug information is stripped from a copy first when a strip tool is given: the embedded
# library is written to disk at every start, so smaller is better.
set(_src "${INPUT}")
if(STRIP)
  set(_copy "${OUTPUT}.stripped")
  execute_process(COMMAND "${STRIP}" --strip-debug -o "${_copy}" "${INPUT}" RESULT_VARIABLE _rc)
  if(_rc EQUAL 0)
    set(_src "${_copy}")
  endif()
endif()
file(READ "${_src}" _hex HEX)
string(LENGTH "${_hex}" _len)
math(EXPR _bytes "${_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _arr "${_hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" _arr "${_arr}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from ${INPUT}; do not edit.\n"
  "#include <cstddef>\n"
  "namespace orvl {\n"
  "extern const unsigned char ${SYMBOL}[];\n"
  "extern const std::size_t ${SYMBOL}_size;\n"
  "alignas(16) const unsigned char ${SYMBOL}[] = {\n${_arr}\n};\n"
  "const std::size_t ${SYMBOL}_size = ${_bytes};\n"
  "}  // namespace orvl\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
