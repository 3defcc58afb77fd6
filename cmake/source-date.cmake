# FMB2FXB_SOURCE_DATE_EPOCH: the time packages give their files, in seconds since 1970. The
# environment's SOURCE_DATE_EPOCH where set; else the last commit's time; else the date of the
# changelog's latest entry (its first " -- " line).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(FMB2FXB_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
      OUTPUT_VARIABLE FMB2FXB_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE git_failed ERROR_QUIET)
    if(git_failed)
      unset(FMB2FXB_SOURCE_DATE_EPOCH)
    endif()
  endif()
  if(NOT FMB2FXB_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog.in signature REGEX "^ -- " LIMIT_COUNT 1)
    string(REGEX REPLACE "^ -- .*>  " "" changelog_date "${signature}")
    execute_process(COMMAND date -u -d "${changelog_date}" +%s
      OUTPUT_VARIABLE FMB2FXB_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
endif()
if(NOT FMB2FXB_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "no date for the packages: set SOURCE_DATE_EPOCH")
endif()
