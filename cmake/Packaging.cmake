# The Debian package: `cpack -G DEB` in the build folder (scripts/package)
# makes quillmere_<version>_<arch>.deb from the project's install rules.
#
# The version is project()'s and the build number QUILLMERE_BUILD_NUMBER;
# the package, the AppStream release, the manual page, the changelog and
# the application itself all take them from here, so a release changes them
# in one place.

set(QUILLMERE_RELEASE_DATE "2026-12-07" CACHE STRING "Release date of this version, YYYY-MM-DD")
set(QUILLMERE_MAINTAINER "Quillmere developers <developers@quillmere.invalid>")
set(QUILLMERE_APPSTREAM_ID "org.quillmere.quillmere")
string(SUBSTRING "${QUILLMERE_RELEASE_DATE}" 0 4 QUILLMERE_COPYRIGHT_YEAR)
# The Debian changelog wants the date as RFC 2822, weekday included.
execute_process(COMMAND date -u -R -d "${QUILLMERE_RELEASE_DATE} 00:00:00 UTC"
                OUTPUT_VARIABLE QUILLMERE_RELEASE_DATE_RFC2822
                OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE release_date_result)
if(NOT release_date_result EQUAL 0)
  message(FATAL_ERROR "QUILLMERE_RELEASE_DATE must be a date as YYYY-MM-DD, not \"${QUILLMERE_RELEASE_DATE}\"")
endif()

# Debian's hardening: a fully read-only global offset table.
add_link_options(LINKER:-z,relro,-z,now)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quillmere developers")
set(CPACK_PACKAGE_CONTACT "${QUILLMERE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ZIP archives whose file names read correctly on Japanese Windows")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
execute_process(COMMAND dpkg --print-architecture
                OUTPUT_VARIABLE QUILLMERE_DEB_ARCHITECTURE
                OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
if(QUILLMERE_DEB_ARCHITECTURE)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QUILLMERE_DEB_ARCHITECTURE})
  # A native package: the version carries no Debian revision.
  set(CPACK_DEBIAN_FILE_NAME "quillmere_${PROJECT_VERSION}_${QUILLMERE_DEB_ARCHITECTURE}.deb")
endif()
set(CPACK_DEBIAN_PACKAGE_NAME quillmere)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLMERE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The archive is written by php's ZipArchive, encrypted by zipcloak under
# expect; the Qt, QtKeychain and C++ libraries are found by dpkg-shlibdeps.
# QtKeychain opens libsecret only at run time, so dpkg-shlibdeps cannot see
# it; without it the password stays in the settings file. A keyring daemon
# is the desktop's choice.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "php-cli, php-zip, expect, zip, libsecret-1-0")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libnotify-bin, gnome-keyring | kwalletmanager")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-nautilus")
# CPack puts the summary on the Description line and indents these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillmere packs files and folders into a ZIP archive that Japanese Windows
opens without garbled names: entry names are written in code page 932
(Shift_JIS), characters that Windows refuses in file names are replaced,
and the archive can be protected with a password.

Drop items onto its window, or use the action it adds to the context menu
of Dolphin, Nautilus, Nemo, Caja, PCManFM-Qt and Thunar.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
