# The Debian package (scripts/package.sh: build/vendara_VERSION_amd64.deb).
# The programs (and the tray icon's module) go to lib/vendara/, the launcher that starts them in the
# seller's data folder to bin/, the web UI with its npm libraries and the
# database template to share/vendara/, the desktop entry and the scalable
# icon where desktops look for them. The web UI's libraries come from
# `npm ci` in webui/ and service/vendor/ (scripts/package.sh runs it).
install(TARGETS vendara refitter maker-service RUNTIME DESTINATION lib/vendara)
# The tray icon's module lies beside the program, which loads it from there.
install(TARGETS vendara_tray LIBRARY DESTINATION lib/vendara)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/app/desktop/vendara-launcher.sh DESTINATION bin RENAME vendara)
install(FILES ${QUORVEL_TEMPLATE_DB} DESTINATION share/vendara/tpl)
install(FILES ${CMAKE_SOURCE_DIR}/webui/index.html ${CMAKE_SOURCE_DIR}/webui/app.css DESTINATION share/vendara/webui)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/webui/js ${CMAKE_SOURCE_DIR}/webui/vendara2012 DESTINATION share/vendara/webui)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/webui/node_modules DESTINATION share/vendara/webui)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/service/vendor/node_modules/ DESTINATION share/vendara/vendor)
install(FILES ${CMAKE_SOURCE_DIR}/app/desktop/vendara.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/app/desktop/vendara.svg DESTINATION share/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vendara)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop delivery assistant for sellers of virtual goods")
set(CPACK_PACKAGE_CONTACT "Vendara <vendara@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The libraries the programs link, found by dpkg-shlibdeps; besides them the
# launcher reads one setting with sqlite3 and the program opens the page
# through the desktop's handler when no known browser is installed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcurl is loaded when first used (port/linux/LazyCurl.cpp), so the
# automatic dependencies do not see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "bash, sqlite3, xdg-utils, libcurl4")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "chromium | firefox-esr | www-browser")
include(CPack)
