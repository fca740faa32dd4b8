# The Windows package: a ZIP with one top folder lumo-VERSION-win64/ that holds lumo.exe, the chat
# script beside it (lumo.exe loads main.lum from its own folder), the extensions the script loads and
# the documentation. scripts/package.sh builds it.
if(NOT WIN32 OR NOT TARGET lumo)
  return()
endif()

# The package needs only what it holds built, not the tests ("all").
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

install(TARGETS lumo RUNTIME DESTINATION .)

# The chat script and its modules.
file(GLOB _lumo_scripts CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/irc/*.lum)
install(FILES ${_lumo_scripts} DESTINATION .)

# The extension the script loads for UTF-8 servers, looked up beside the script.
if(TARGET lumo_utf8)
  install(TARGETS lumo_utf8 RUNTIME DESTINATION . LIBRARY DESTINATION .)
endif()

if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/docs)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION .)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME lumo)
set(CPACK_PACKAGE_VENDOR lumo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME lumo-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Without the debug information the build keeps.
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
