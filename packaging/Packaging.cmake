# Install rules and the Debian package (./package.sh). Included last from the top-level
# CMakeLists.txt, so that every executable target is known; a tool missing from this tree is
# left out of the package.
#
# The files that need tools beyond the compiler (manual pages from help2man, PNG icons from
# rsvg-convert, the gzipped changelog) are made only with KALVORA_PACKAGING=ON, which
# package.sh sets; the plain and sanitizer builds do without them.
include(GNUInstallDirs)

option(KALVORA_PACKAGING "make manual pages, icons and package files (help2man, rsvg-convert)"
       OFF)
set(KALVORA_MAINTAINER "Kalvora developers <kalvora@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

set(packaging_dir ${CMAKE_CURRENT_LIST_DIR})
set(generated_dir ${CMAKE_BINARY_DIR}/packaging)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/kalvora)
file(MAKE_DIRECTORY ${generated_dir})

# Programs, and for the ones with --help and --version the NAME line of their manual page.
set(kalvora_programs kalvora kalvora-cli kalvora-plot kalvora-chamber-sim)
set(manual_summary_kalvora-cli "log and control climatic test chambers from the command line")
set(manual_summary_kalvora-plot "chart the temperature logs of climatic test chambers")
set(manual_summary_kalvora-chamber-sim "simulated climatic test chambers on a pseudo-terminal")

set(installed_programs "")
foreach(program IN LISTS kalvora_programs)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND installed_programs ${program})
  endif()
endforeach()

install(FILES ${packaging_dir}/kalvora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
if(TARGET kalvora-plot)
  install(FILES ${packaging_dir}/kalvora-plot.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
install(FILES ${packaging_dir}/kalvora.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${packaging_dir}/kalvora-log@.service DESTINATION lib/systemd/system)
# The service's system user and group, made by the package's postinst through systemd-sysusers.
install(FILES ${packaging_dir}/kalvora.sysusers DESTINATION lib/sysusers.d RENAME kalvora.conf)
# Prometheus alerting rules on the logger's metrics, for labs that run Prometheus, and the files
# that set up a lab of several PCs: scrape jobs with their targets, the rules beside them, and an
# Alertmanager route by bench and severity.
install(FILES ${packaging_dir}/kalvora-alerts.yml DESTINATION ${CMAKE_INSTALL_DATADIR}/kalvora)
file(GLOB monitoring_files CONFIGURE_DEPENDS ${packaging_dir}/monitoring/*)
install(FILES ${monitoring_files} ${packaging_dir}/kalvora-alerts.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kalvora/monitoring)
# Absolute on purpose: configuration belongs in /etc whatever the prefix (the package is made
# with CPACK_SET_DESTDIR, so the files land in the package tree).
set(configuration_files example.conf ports.conf audit.conf)
list(TRANSFORM configuration_files PREPEND ${packaging_dir}/ OUTPUT_VARIABLE configuration_sources)
install(FILES ${configuration_sources} DESTINATION /etc/kalvora)
# An administrator's edits to them survive upgrades.
list(TRANSFORM configuration_files PREPEND /etc/kalvora/ OUTPUT_VARIABLE conffiles)
list(JOIN conffiles "\n" conffiles)
file(WRITE ${generated_dir}/conffiles "${conffiles}\n")

# The package's README is the README's section on real serial ports, so the two never differ.
set(readme ${CMAKE_SOURCE_DIR}/README.md)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${readme})
file(READ ${readme} readme_text)
string(FIND "${readme_text}" "## Real serial ports" section_start)
if(section_start LESS 0)
  message(FATAL_ERROR "README.md has no \"## Real serial ports\" section for the package")
endif()
string(SUBSTRING "${readme_text}" ${section_start} -1 section)
string(SUBSTRING "${section}" 3 -1 section) # drop the "## " so the next search finds the end
string(FIND "${section}" "\n## " section_end)
string(SUBSTRING "${section}" 0 ${section_end} section)
file(WRITE ${generated_dir}/README "Kalvora ${PROJECT_VERSION}: ${section}\n")
string(TIMESTAMP KALVORA_COPYRIGHT_YEAR "%Y" UTC)
configure_file(${packaging_dir}/copyright ${generated_dir}/copyright @ONLY)
install(FILES ${generated_dir}/README ${generated_dir}/copyright DESTINATION ${doc_dir})
# The lab's quick start and the reference pages (formats, the HTTP API, ...), as in the tree.
file(GLOB documentation_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${documentation_pages} DESTINATION ${doc_dir})

if(NOT KALVORA_PACKAGING)
  return()
endif()

find_program(HELP2MAN help2man REQUIRED)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(GZIP gzip REQUIRED)
set(package_outputs "")
set(manual_pages "")

# Manual pages from the tools' own --help (packaging/manual-pages.py, or help2man for the
# simulator), so that a page and the help never drift; the window program's is written by hand.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(manual_maker ${packaging_dir}/manual-pages.py)
configure_file(${packaging_dir}/kalvora.1 ${generated_dir}/kalvora.1 @ONLY)
add_custom_command(OUTPUT ${generated_dir}/kalvora.1.gz
  COMMAND ${GZIP} -9nkf ${generated_dir}/kalvora.1
  DEPENDS ${generated_dir}/kalvora.1)
list(APPEND manual_pages ${generated_dir}/kalvora.1.gz)
set(manual_pages_5 "")
foreach(program IN LISTS installed_programs)
  if(program STREQUAL "kalvora-cli")
    set(made_pages kalvora-cli.1 kalvora.conf.5)
    set(made_kinds cli conf)
  elseif(program STREQUAL "kalvora-plot")
    set(made_pages kalvora-plot.1)
    set(made_kinds plot)
  elseif(DEFINED manual_summary_${program})
    set(page ${generated_dir}/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              ${HELP2MAN} --no-info --no-discard-stderr "--name=${manual_summary_${program}}"
              --output=${page} $<TARGET_FILE:${program}>
      COMMAND ${GZIP} -9nkf ${page}
      DEPENDS ${program}
      COMMENT "Manual page for ${program}")
    list(APPEND manual_pages ${page}.gz)
    continue()
  else()
    continue()
  endif()
  foreach(made kind IN ZIP_LISTS made_pages made_kinds)
    set(page ${generated_dir}/${made})
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${Python3_EXECUTABLE} ${manual_maker} ${kind} $<TARGET_FILE:${program}>
              ${PROJECT_VERSION} ${page}
      COMMAND ${GZIP} -9nkf ${page}
      DEPENDS ${program} ${manual_maker}
      COMMENT "Manual page ${made}")
    if(made MATCHES "\\.5$")
      list(APPEND manual_pages_5 ${page}.gz)
    else()
      list(APPEND manual_pages ${page}.gz)
    endif()
  endforeach()
endforeach()
install(FILES ${manual_pages_5} DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
list(APPEND package_outputs ${manual_pages_5})
install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
list(APPEND package_outputs ${manual_pages})

foreach(size 16 22 24 32 48 64 128 256)
  set(icon ${generated_dir}/icons/${size}x${size}/kalvora.png)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated_dir}/icons/${size}x${size}
    COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${icon}
            ${packaging_dir}/kalvora.svg
    DEPENDS ${packaging_dir}/kalvora.svg)
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  list(APPEND package_outputs ${icon})
endforeach()

# A native package carries its changelog as changelog.gz.
string(TIMESTAMP KALVORA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${packaging_dir}/changelog.in ${generated_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${generated_dir}/changelog.gz
  COMMAND ${GZIP} -9nkf ${generated_dir}/changelog
  DEPENDS ${generated_dir}/changelog)
install(FILES ${generated_dir}/changelog.gz DESTINATION ${doc_dir})
list(APPEND package_outputs ${generated_dir}/changelog.gz)

# Everything the package holds; package.sh builds this instead of the whole tree with its tests.
add_custom_target(kalvora-package-contents ALL DEPENDS ${installed_programs} ${package_outputs})
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kalvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kalvora developers")
set(CPACK_PACKAGE_CONTACT "${KALVORA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "supervise and control climatic test chambers over RS-485")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Kalvora watches climatic test chambers (heat and cold chambers running\n"
    "thermocycling programs) on an RS-485 line as the Modbus RTU master, logs\n"
    "their readings to text files, and writes programs, a set-point and\n"
    "start/stop commands to them.\n"
    "\n"
    "The package holds the window program, the command-line logger with a\n"
    "systemd unit for unattended logging, the chart viewer for the logs and\n"
    "a chamber simulator.")
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Libraries come from dpkg-shlibdeps; the window also needs its fonts and a Qt platform plugin,
# the logger's overview page the chart library it serves from the package's folder.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, qt6-qpa-plugins, libjs-dygraphs")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${generated_dir}/conffiles ${packaging_dir}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
