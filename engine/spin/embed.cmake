# Writes OUT: the spin program and its shared header as raw strings, so the engine
# carries its GPU source and compiles it at run time.
file(READ ${SHADER} shader)
file(READ ${HEADER} header)
foreach(text shader header)
  if(${text} MATCHES "\\)glsl\"")
    message(FATAL_ERROR "${text} text holds the raw-string delimiter")
  endif()
endforeach()
file(WRITE ${OUT}.tmp
  "// Generated from spin.glsl and program.h; edit those.\n"
  "extern const char spinShader[];\nextern const char spinProgramHeader[];\n"
  "const char spinShader[] = R\"glsl(${shader})glsl\";\n"
  "const char spinProgramHeader[] = R\"glsl(${header})glsl\";\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
