# Precompiled headers: Qt's headers parsed once per build, not once per file. A header is made by
# an OBJECT library of its own and reused by the targets that list it; they all compile with the
# same options, and -Winvalid-pch names a file that could not use it. Targets without Qt (the
# simulator, the pseudo-terminal) stay off: the headers bring Qt's keywords along.

# kalvora_add_pch(<name> <header>...): a precompiled header holding these headers.
function(kalvora_add_pch name)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/precompiled/${name}.cpp CONTENT "")
  add_library(${name} OBJECT ${CMAKE_BINARY_DIR}/precompiled/${name}.cpp)
  target_link_libraries(${name} PRIVATE Qt6::Core)
  set_target_properties(${name} PROPERTIES AUTOMOC OFF)
  target_precompile_headers(${name} PRIVATE ${ARGN})
endfunction()

# kalvora_use_pch(<name> <target>... [SKIP_MOCS]): the targets reuse the header <name>.
# SKIP_MOCS where the classes are moc'ed in their own sources (the tests): mocs_compilation.cpp is
# then all but empty, and loading the header would cost more than it saves.
function(kalvora_use_pch name)
  cmake_parse_arguments(P "SKIP_MOCS" "" "" ${ARGN})
  foreach(target IN LISTS P_UNPARSED_ARGUMENTS)
    target_precompile_headers(${target} REUSE_FROM ${name})
    if(P_SKIP_MOCS)
      get_target_property(binary_dir ${target} BINARY_DIR)
      set_source_files_properties(${binary_dir}/${target}_autogen/mocs_compilation.cpp
        TARGET_DIRECTORY ${target} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    endif()
  endforeach()
endfunction()

# The program's own sources: the handful of QtCore headers that most of them include. All of
# QtCore would take longer to load than these take to parse.
kalvora_add_pch(kalvora_pch_sources <QByteArray> <QDateTime> <QDir> <QFile> <QFileInfo>
  <QJsonArray> <QJsonDocument> <QJsonObject> <QList> <QObject> <QRegularExpression> <QString>
  <QStringList> <algorithm> <chrono> <functional> <memory> <optional> <string> <vector>)
