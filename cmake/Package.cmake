# The Debian packages: `cmake --build build --target package` (or
# scripts/package) writes mirelhelper_<version>_<arch>.deb (the desktop
# program with its stand-ins) and rivuzovara_<version>_<arch>.deb (the tracking
# service) into the build directory, one per install component. Library
# dependencies come from dpkg-shlibdeps (dpkg-dev); what the programs start or
# load at run time is listed by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirelhelper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The MirelHelper authors")
set(CPACK_PACKAGE_CONTACT "The MirelHelper authors <mirelhelper@localhost>")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The desktop package's fields are the defaults; the tracking service's package sets its own.
set(CPACK_DEBIAN_MIRELHELPER_PACKAGE_NAME mirelhelper)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Shop visitor alerts: who looks at the shop, kept visits, greetings
MirelHelper tells a shop owner who is looking at the shop right now, keeps \
every visit and greets new visitors through the chat client. With rivuzovara-local (a local stand-in of the \
tracking and IM services) and hichat (a local chat client).")
# The xcb platform plugin shows the window; xdg-open opens links and chats.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, xdg-utils")
# Without a Chinese font every caption shows as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")

set(CPACK_DEBIAN_RIVUZOVARA_PACKAGE_NAME rivuzovara)
set(CPACK_DEBIAN_RIVUZOVARA_PACKAGE_SECTION net)
set(CPACK_DEBIAN_RIVUZOVARA_DESCRIPTION "Shop visit tracking service for MirelHelper
rivuzovara records the page views that the MirelHelper tracking snippet reports \
and hands them to the shop owners' desktop programs, with a wake-up the moment a \
view arrives. SQLite on one machine, or several servers behind a load balancer \
on one PostgreSQL database. Runs as a sandboxed systemd service.")
# Its libraries come from dpkg-shlibdeps alone.
set(CPACK_DEBIAN_RIVUZOVARA_PACKAGE_DEPENDS "")
set(CPACK_DEBIAN_RIVUZOVARA_PACKAGE_RECOMMENDS "")
set(CPACK_DEBIAN_RIVUZOVARA_PACKAGE_SUGGESTS "postgresql, nginx")
# /etc/default/rivuzovara is the owner's: an upgrade asks before replacing it; the scripts
# tell systemd of the unit and stop the service before its program goes.
set(CPACK_DEBIAN_RIVUZOVARA_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/server/dist/conffiles ${CMAKE_SOURCE_DIR}/server/dist/postinst
    ${CMAKE_SOURCE_DIR}/server/dist/prerm ${CMAKE_SOURCE_DIR}/server/dist/postrm)
set(CPACK_DEBIAN_RIVUZOVARA_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
