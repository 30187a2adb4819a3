# The Debian package: `cmake --build build --target package` (or
# scripts/package) writes mirelhelper_<version>_<arch>.deb into the build
# directory. Library dependencies come from dpkg-shlibdeps (dpkg-dev); what the
# programs start or load at run time is listed by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirelhelper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The MirelHelper authors")
set(CPACK_PACKAGE_CONTACT "The MirelHelper authors <mirelhelper@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Shop visitor alerts: who looks at the shop, kept visits, greetings")
set(CPACK_PACKAGE_DESCRIPTION "MirelHelper tells a shop owner who is looking at the shop right now, keeps \
every visit and greets new visitors through the chat client. With rivuzovara-local (a local stand-in of the \
tracking and IM services) and hichat (a local chat client).")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The xcb platform plugin shows the window; xdg-open opens links and chats.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, xdg-utils")
# Without a Chinese font every caption shows as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
include(CPack)
