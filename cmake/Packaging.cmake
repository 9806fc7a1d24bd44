# `make package` builds a Debian package of the installed files with CPack.
# Library dependencies are found by dpkg-shlibdeps; what the program loads or
# runs at run time without linking it is declared here.
set(ZAVRIN_PACKAGE_MAINTAINER "Zavrin maintainers <maintainers@zavrin.app>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zavrin)
set(CPACK_PACKAGE_VENDOR Zavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZAVRIN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compress files into archives and extract zip, rar, 7z and tar archives")
set(CPACK_PACKAGE_DESCRIPTION
    "Zavrin is a one-window archive utility. It packs files and folders into one\n"
    "zip archive, fast or small, optionally protected with AES-256, and extracts\n"
    "zip, rar, 7z and tar archives into a folder without ever overwriting a file.\n"
    "zavrin-cli drives the same engine from a terminal.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# 7z archives are read by the 7zz program; the analytics store needs Qt's
# SQLite driver, a plug-in that no library dependency brings.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "7zip, libqt6sql6-sqlite")
# The interface is Chinese first: without a CJK font its texts show as boxes.
# Qt's own texts (its file dialog) in the window's language, and the desktop's
# file chooser through the portal or GTK where the desktop offers one; xdg-open
# hands an entry opened from the preview to the application for its type.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei, qt6-wayland, qt6-translations-l10n, qt6-xdgdesktopportal-platformtheme | qt6-gtk-platformtheme, xdg-utils")

include(CPack)
