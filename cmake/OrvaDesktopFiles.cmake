# Fills the desktop entry and the AppStream metadata with the MIME types the image layer
# opens, asked of the built orva-mime-types, so the two lists never drift apart.
# cmake -DMIME_TOOL=... -DDESKTOP_IN=... -DDESKTOP_OUT=... -DMETAINFO_IN=... -DMETAINFO_OUT=...
#       -DORVA_APP_ID=... -DORVA_WINDOW_CLASS=... -DPROJECT_VERSION=... -DORVA_RELEASE_DATE=...
#       -P OrvaDesktopFiles.cmake
set(ENV{ASAN_OPTIONS} "detect_leaks=0") # a sanitizer build's tool must not fail on exit
execute_process(COMMAND "${MIME_TOOL}" OUTPUT_VARIABLE types RESULT_VARIABLE result
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0 OR types STREQUAL "")
  message(FATAL_ERROR "${MIME_TOOL} listed no MIME types (${result})")
endif()
string(REPLACE "\n" ";" types "${types}")

list(JOIN types ";" ORVA_DESKTOP_MIME_TYPES)
string(APPEND ORVA_DESKTOP_MIME_TYPES ";")
list(TRANSFORM types PREPEND "    <mediatype>")
list(TRANSFORM types APPEND "</mediatype>")
list(JOIN types "\n" ORVA_METAINFO_MEDIATYPES)

configure_file("${DESKTOP_IN}" "${DESKTOP_OUT}" @ONLY)
configure_file("${METAINFO_IN}" "${METAINFO_OUT}" @ONLY)
