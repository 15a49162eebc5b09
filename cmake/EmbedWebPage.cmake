# Writes a C++ source that holds the web page as byte arrays: the HTML template, the style sheet
# and the script, so the page is part of the executable and needs no file beside it. The script
# is the page's script files one after the other, in the order given (each one declares what
# the later ones use), so that the page still has one inline script with one hash; the style
# sheet is its style files likewise. Run as a script at build time:
#   cmake -DPAGE_DIR=... -DPAGE_SCRIPTS=first.js,second.js,... -DPAGE_STYLES=first.css,... -DOUTPUT=... -P EmbedWebPage.cmake
# A script may be given by an absolute path (a library installed on the build machine). A page
# file that does not exist yet is embedded as an empty text (the page is then a bare one).
set(source "// Generated from src/web/page by cmake/EmbedWebPage.cmake; do not edit.\n#include \"web/PageSources.h\"\n\nnamespace {\n")
string(REPLACE "," ";" script_files "${PAGE_SCRIPTS}")
string(REPLACE "," ";" style_files "${PAGE_STYLES}")
foreach(name IN ITEMS kTemplate kStyle kScript)
  if(name STREQUAL "kTemplate")
    set(parts index.html)
  elseif(name STREQUAL "kStyle")
    set(parts ${style_files})
  else()
    set(parts ${script_files})
  endif()
  set(hex "")
  foreach(part IN LISTS parts)
    if(NOT IS_ABSOLUTE "${part}")
      set(part "${PAGE_DIR}/${part}")
    endif()
    if(EXISTS "${part}")
      file(READ "${part}" part_hex HEX)
      string(APPEND hex "${part_hex}")
    endif()
  endforeach()
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND source "constexpr char ${name}[] = { ${bytes} '\\0' };\nconstexpr std::size_t ${name}Size = ${size};\n")
endforeach()
string(APPEND source "}\n\nstd::string_view pageTemplateSource() { return { kTemplate, kTemplateSize }; }\nstd::string_view pageStyleSource() { return { kStyle, kStyleSize }; }\nstd::string_view pageScriptSource() { return { kScript, kScriptSize }; }\n")
file(WRITE "${OUTPUT}.new" "${source}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
