# orv_embed_file(FILE OUTPUT NAME): writes OUTPUT, a C++ source that defines
# `extern "C" const unsigned char kNAME[]` with FILE's bytes and `extern "C" const std::size_t
# kNAMESize`. Done at configure time; a change of FILE configures again.
function(orv_embed_file file output name)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  " bytes "${bytes}")
  set(content "// Generated from ${file}; do not edit.\n#include <cstddef>\n\nextern \"C\" const unsigned char k${name}[${size}];\nextern \"C\" const std::size_t k${name}Size;\n\nconst unsigned char k${name}[${size}] = {\n  ${bytes}\n};\nconst std::size_t k${name}Size = ${size};\n")
  # Written only when it changes, so that nothing is rebuilt for nothing.
  if(EXISTS ${output})
    file(READ ${output} old)
  endif()
  if(NOT "${old}" STREQUAL "${content}")
    file(WRITE ${output} "${content}")
  endif()
endfunction()
