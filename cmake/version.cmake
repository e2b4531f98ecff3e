# Writes orb_version.h with the project version and the source revision
# (`git describe`), run at every build so the revision never goes stale; the
# file is rewritten only when its text changes, so nothing rebuilds needlessly.
# Inputs: SOURCE_DIR, OUTPUT, VERSION.
set(revision "unknown")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} describe --always --dirty --abbrev=10
    OUTPUT_VARIABLE described RESULT_VARIABLE status ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(status EQUAL 0 AND described)
    set(revision "${described}")
  endif()
endif()
set(text "// Generated at build time: the project version and the source revision.
#pragma once
inline constexpr char kOrbVersion[] = \"${VERSION}\";
inline constexpr char kOrbRevision[] = \"${revision}\";
")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE ${OUTPUT} "${text}")
endif()
