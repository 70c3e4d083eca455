# Compiler flags shared by every Orva target.
add_library(orva_build_flags INTERFACE)
target_compile_options(orva_build_flags INTERFACE -Wall -Wextra)
if(ORVA_WERROR)
  target_compile_options(orva_build_flags INTERFACE -Werror)
endif()
# Qt's implicit conversions from const char* hide encoding bugs.
target_compile_definitions(orva_build_flags INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

if(ORVA_SANITIZE)
  set(_orva_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(orva_build_flags INTERFACE ${_orva_san})
  target_link_options(orva_build_flags INTERFACE ${_orva_san})
endif()

# Coverage instrumentation for libFuzzer over all of Orva's code, not just the harness.
if(ORVA_FUZZ)
  target_compile_options(orva_build_flags INTERFACE -fsanitize=fuzzer-no-link)
endif()
