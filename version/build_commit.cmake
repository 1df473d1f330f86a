# Writes OUTPUT (a header defining CORVANE_COMMIT) with the commit the sources
# are at, marked "+changes" when the work tree differs from it; "" outside a git
# checkout. The header is only rewritten when its text changes, so that an
# unchanged commit rebuilds nothing.
execute_process(COMMAND git -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE not_git ERROR_QUIET)
if(not_git)
  set(commit "")
else()
  execute_process(COMMAND git -C ${SOURCE_DIR} status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(changes)
    set(commit "${commit}+changes")
  endif()
endif()
set(text "#define CORVANE_COMMIT \"${commit}\"\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old_text)
endif()
if(NOT "${old_text}" STREQUAL "${text}")
  file(WRITE ${OUTPUT} "${text}")
endif()
