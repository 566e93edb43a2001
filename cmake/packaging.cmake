# Installation and packages: the program with its documentation as each
# platform's users receive it. The README that is installed is the sysop's
# (doc/user-readme.md and its Russian twin): what the program does and how to
# run it, nothing about building it. Unix (and the Debian package, a native
# one): compressed manual pages in English and Russian, the licence as
# Debian's machine-readable copyright file, the changelog in Debian's format.
# Windows (the zip): everything side by side as text a Windows reader shows,
# with CR LF line ends and .txt names, the manual pages rendered as plain
# text.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/debian_changelog.cmake)

set(PELORIN_CONTACT "Pelorin developers <pelorin@users.noreply.example>")
set(PELORIN_COPYRIGHT "2026 The Pelorin developers")
set(generated ${PROJECT_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${generated})

foreach(source doc/user-readme.md doc/user-readme.ru.md LICENSE CHANGELOG.md Pelorin.Cfg.example)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${source})
endforeach()

# The source file with CR LF line ends, under the name given; with UTF8_BOM,
# marked as UTF-8 for the Notepad of older Windows, which would read it in
# the ANSI code page.
function(pelorin_windows_text source name)
  file(READ ${PROJECT_SOURCE_DIR}/${source} text)
  string(REPLACE "\n" "\r\n" text "${text}")
  if(ARGV2 STREQUAL "UTF8_BOM")
    string(ASCII 239 187 191 mark)
    string(PREPEND text "${mark}")
  endif()
  file(WRITE ${generated}/${name} "${text}")
endfunction()

# LICENSE as Debian's machine-readable copyright file.
function(pelorin_debian_copyright name)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(FIND "${licence}" "Permission is hereby granted" start)
  string(SUBSTRING "${licence}" ${start} -1 terms)
  string(STRIP "${terms}" terms)
  string(REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REPLACE "\n" "\n " terms "${terms}")
  file(WRITE ${generated}/${name}
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: pelorin\n"
    "Upstream-Contact: ${PELORIN_CONTACT}\n\n"
    "Files: *\n"
    "Copyright: ${PELORIN_COPYRIGHT}\n"
    "License: Expat\n"
    " ${terms}\n")
endfunction()

function(pelorin_gzip source name)
  find_program(GZIP gzip REQUIRED)
  execute_process(COMMAND ${GZIP} -9n INPUT_FILE ${source} OUTPUT_FILE ${generated}/${name}
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()

if(WIN32)
  install(TARGETS pelorin RUNTIME DESTINATION .)
  pelorin_windows_text(doc/user-readme.md README.txt UTF8_BOM)
  pelorin_windows_text(doc/user-readme.ru.md README.ru.txt UTF8_BOM)
  pelorin_windows_text(LICENSE LICENSE.txt)
  pelorin_windows_text(Pelorin.Cfg.example Pelorin.Cfg.example)
  install(FILES ${generated}/README.txt ${generated}/README.ru.txt ${generated}/LICENSE.txt
                ${generated}/Pelorin.Cfg.example DESTINATION .)
  find_program(GROFF groff)
  if(GROFF)
    # The English page in ASCII; the Russian one in UTF-8 with a byte-order mark.
    foreach(page pelorin pelorin.ru)
      set(encoding ascii)
      if(page STREQUAL "pelorin.ru")
        set(encoding utf8)
      endif()
      add_custom_command(OUTPUT ${generated}/${page}.txt
        COMMAND ${CMAKE_COMMAND} -DGROFF=${GROFF} -DPAGE=${PROJECT_BINARY_DIR}/doc/${page}.1
                -DTEXT=${generated}/${page}.txt -DENCODING=${encoding}
                -P ${CMAKE_CURRENT_LIST_DIR}/manual_text.cmake
        DEPENDS ${PROJECT_BINARY_DIR}/doc/${page}.1 ${CMAKE_CURRENT_LIST_DIR}/manual_text.cmake)
    endforeach()
    add_custom_target(manual_text ALL DEPENDS ${generated}/pelorin.txt ${generated}/pelorin.ru.txt)
    install(FILES ${generated}/pelorin.txt ${generated}/pelorin.ru.txt DESTINATION .)
  else()
    message(WARNING "groff not found: the zip will lack the manual pages as text "
                    "(Debian: apt-get install groff)")
  endif()
else()
  install(TARGETS pelorin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  pelorin_gzip(${PROJECT_BINARY_DIR}/doc/pelorin.1 pelorin.1.gz)
  pelorin_gzip(${PROJECT_BINARY_DIR}/doc/pelorin.ru.1 pelorin.ru.1.gz)
  pelorin_debian_copyright(copyright)
  debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md pelorin "${PELORIN_CONTACT}" changes)
  file(WRITE ${generated}/changelog "${changes}")
  pelorin_gzip(${generated}/changelog changelog.gz)
  install(FILES ${generated}/pelorin.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${generated}/pelorin.ru.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ru/man1
          RENAME pelorin.1.gz)
  install(FILES Pelorin.Cfg.example ${generated}/copyright ${generated}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES doc/user-readme.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README.md)
  install(FILES doc/user-readme.ru.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README.ru.md)
endif()

set(CPACK_PACKAGE_NAME pelorin)
set(CPACK_PACKAGE_VENDOR "Pelorin developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sets a new origin address on FidoNet outbound packets")
# The long description of the Debian package, in lines Debian's tools show whole.
set(CPACK_PACKAGE_DESCRIPTION [=[
For every packet in the outbound directory of a FidoNet mail processor that
is addressed to a destination in a list written as in route.cfg, pelorin
sets a new origin address: in the packet header, and in the echomail
messages packed inside that still carry the old origin. Nothing else in a
packet changes. It runs unattended between runs of the mail processor,
beside a running mailer and tosser, whose busy flags it honours and takes;
it leaves every message whole even when it is killed, and a preview shows
what a run would do.]=])
set(CPACK_PACKAGE_CONTACT "${PELORIN_CONTACT}")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/doc/user-readme.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
