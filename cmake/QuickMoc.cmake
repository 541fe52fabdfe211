# moc is handed the compiler's own include folders by AUTOMOC, and with them it reads the whole
# C++ standard library again for every file it scans: about 1.3 s for each target, most of the
# time a clean build spent in AUTOMOC. Its output is the same without them, since moc skips an
# include it cannot find and needs nothing from the standard headers. Qt's moc is therefore
# called through a wrapper that drops exactly those folders and passes every other argument on.
get_target_property(kalvora_real_moc Qt6::moc IMPORTED_LOCATION)
if(NOT kalvora_real_moc)
  get_target_property(kalvora_real_moc Qt6::moc LOCATION)
endif()
set(kalvora_implicit_includes "")
foreach(dir IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
  string(APPEND kalvora_implicit_includes "|\"-I${dir}\"")
endforeach()
string(SUBSTRING "${kalvora_implicit_includes}" 1 -1 kalvora_implicit_includes)
if(kalvora_real_moc AND kalvora_implicit_includes)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/moc-without-compiler-includes.sh.in
    ${CMAKE_BINARY_DIR}/moc-without-compiler-includes.sh
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                     WORLD_READ WORLD_EXECUTE @ONLY)
  set_target_properties(Qt6::moc PROPERTIES
    IMPORTED_LOCATION ${CMAKE_BINARY_DIR}/moc-without-compiler-includes.sh)
endif()
