# Installation, and the packages made from it with CPack: a .deb of the Linux build that
# lintian accepts, and a .zip of the Windows build laid out for Windows users.
include(GNUInstallDirs)

set(FMB2FXB_MAINTAINER "fmb2fxb developers <fmb2fxb@localhost>" CACHE STRING
    "The package maintainer, \"Name <address>\"; packagers replace this placeholder")
set(packaging ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(staged ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${staged})

if(WIN32)
  # One folder: the program, a readme and the licence with Windows line ends (the readme in
  # UTF-8 with a byte order mark, which Notepad needs before Windows 10), the manual as HTML.
  install(TARGETS fmb2fxb RUNTIME DESTINATION .)
  foreach(text README-windows.txt:README.txt ../LICENSE:LICENSE.txt)
    string(REPLACE ":" ";" pair ${text})
    list(GET pair 0 from)
    list(GET pair 1 to)
    configure_file(${packaging}/${from} ${staged}/${to}.lf @ONLY)
    file(READ ${staged}/${to}.lf content)
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${staged}/${to} "${content}")
    install(FILES ${staged}/${to} DESTINATION .)
  endforeach()
  # The manual for Windows users: cmd and PowerShell, attributes, Ctrl+C, "if errorlevel".
  find_program(MANDOC mandoc)
  if(MANDOC)
    set(windows_manual ${CMAKE_CURRENT_SOURCE_DIR}/doc/fmb2fxb-windows.1)
    add_custom_command(OUTPUT ${staged}/fmb2fxb.html
      COMMAND ${MANDOC} -Thtml ${windows_manual} > ${staged}/fmb2fxb.html
      DEPENDS ${windows_manual})
    add_custom_target(manual_html ALL DEPENDS ${staged}/fmb2fxb.html)
    install(FILES ${staged}/fmb2fxb.html DESTINATION .)
  else()
    message(STATUS "mandoc not found: the Windows package goes without its HTML manual")
  endif()
else()
  # Debian wants the manual page and the changelog compressed with gzip -9n (no timestamp),
  # and a machine-readable copyright file.
  find_program(GZIP gzip REQUIRED)
  configure_file(${packaging}/changelog.in ${staged}/changelog @ONLY)
  add_custom_command(OUTPUT ${staged}/fmb2fxb.1.gz ${staged}/changelog.gz
    COMMAND ${GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/doc/fmb2fxb.1 > ${staged}/fmb2fxb.1.gz
    COMMAND ${GZIP} -9nc ${staged}/changelog > ${staged}/changelog.gz
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/doc/fmb2fxb.1 ${staged}/changelog)
  add_custom_target(compressed_docs ALL DEPENDS ${staged}/fmb2fxb.1.gz ${staged}/changelog.gz)
  install(TARGETS fmb2fxb RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${staged}/fmb2fxb.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${packaging}/copyright ${staged}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/fmb2fxb)
  # bash loads it on first use of the command: folders and .fmb files only.
  install(FILES ${packaging}/bash-completion
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME fmb2fxb)
endif()

set(CPACK_PACKAGE_NAME fmb2fxb)
set(CPACK_PACKAGE_VENDOR "the fmb2fxb developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${FMB2FXB_SUMMARY}")
set(CPACK_PACKAGE_CONTACT "${FMB2FXB_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Packages made again from the same commit are the same bytes: file times come from
# SOURCE_DATE_EPOCH, which defaults to the last commit's time or, in a source archive without
# git history, the date of the changelog's latest entry.
include(cmake/source-date.cmake)
configure_file(cmake/cpack-project-config.cmake.in ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake
               @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
# SHA256SUMS beside the packages, for a release.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/write-checksums.cmake)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${FMB2FXB_MAINTAINER}")
  # The summary becomes the first line; this is the extended description.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "fmb2fxb reads a source bank file (.fmb) of 128 four-operator FM voices,
prints a listing of their parameters, and writes the same voices as a
plug-in bank file (.fxb) for the FM synthesizer plug-in.
.
An earlier bank is replaced only by a complete, synced file, so that no
failure, interrupt or power cut loses it.")
  # The target's architecture, in Debian's words; a cross build is no package for this machine.
  set(debian_architectures x86_64:amd64 aarch64:arm64 s390x:s390x)
  foreach(pair IN LISTS debian_architectures)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 processor)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL processor)
      list(GET pair 1 CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    endif()
  endforeach()
  # dpkg-shlibdeps reads this machine's libraries, not the target's: a cross build names the
  # one library the program needs, at the version its newest symbol (__libc_start_main of
  # glibc 2.34) asks for.
  find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(DPKG_SHLIBDEPS AND NOT CMAKE_CROSSCOMPILING)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")
  endif()
endif()
include(CPack)
