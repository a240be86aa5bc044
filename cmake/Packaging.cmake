# Installation and the portable archive. An installed tree keeps the layout
# the tool relies on wherever it is moved: the executable finds the SDK
# through a run path relative to itself, and config.ini and the translation
# lie beside the executable. The archive holds the same tree.
include(GNUInstallDirs)

set(OVERLAYTUNER_APP_ID io.github.overlaytuner.OverlayTuner)
set(_packaging ${CMAKE_SOURCE_DIR}/packaging)

file(RELATIVE_PATH _bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(overlaytuner PROPERTIES INSTALL_RPATH "$ORIGIN/${_bin_to_lib}")
install(TARGETS overlaytuner camsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS camnetsdk LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# Beside the library, where a copy named camnetsdk.ini takes effect.
install(FILES ${CMAKE_SOURCE_DIR}/camnetsdk/camnetsdk.ini.example
    DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(FILES ${_packaging}/${OVERLAYTUNER_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_packaging}/${OVERLAYTUNER_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Drawn from resources/title.png by scripts/make-icons.
foreach(_size 16 32 48 64 128 256)
    install(FILES ${_packaging}/icons/overlaytuner-${_size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
        RENAME ${OVERLAYTUNER_APP_ID}.png)
endforeach()

# The archive's own README lies at its root, which in an installation would
# be the prefix itself (/usr/local): only the archive asks for it.
configure_file(${_packaging}/README.txt.in ${CMAKE_BINARY_DIR}/packaging/README.txt @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION .
    COMPONENT archive EXCLUDE_FROM_ALL)

string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" _platform)
set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME overlaytuner)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME overlaytuner-${PROJECT_VERSION}-${_platform})
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};OverlayTuner;ALL;/"
    "${CMAKE_BINARY_DIR};OverlayTuner;archive;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
# The source archive (package_source) leaves out build folders and history.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/[.]git/" "/build[^/]*/" "/Testing/")
# cpack, like cmake --install, packs the tree as it was built instead of
# building it first, so that the archive test takes the tree under test as it
# is; scripts/package builds before it packs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
