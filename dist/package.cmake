# The Debian package: cpack -G DEB in a Release build configured with
# -DCMAKE_INSTALL_PREFIX=/usr -DTOLVAR_DEB_LAYOUT=ON (scripts/package.sh).
set(TOLVAR_MAINTAINER "Tolvar developers <tolvar@example.org>" CACHE STRING
    "Maintainer field of the package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvar)
set(CPACK_PACKAGE_VENDOR "The Tolvar developers")
set(CPACK_PACKAGE_CONTACT "${TOLVAR_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ISDN call monitor for CAPI 2.0")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOLVAR_MAINTAINER}")
# Dependencies from the shared libraries the programs link (libcapi20, Qt,
# libcanberra, ...), as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own German texts (standard buttons, file dialog, edit menus) are data,
# which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack puts the summary above it as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tolvar watches an ISDN basic-rate line through CAPI 2.0. It lives in the
notification area, logs every incoming call (time, caller, service, the own
number called, the caller's name) and runs, per own number and caller prefix,
a time-of-day schedule of actions: log only, start a program, play a sound,
intercept, pick up, or send an SMS when a call is missed. It sends SMS by ISDN
data call to SMS centres speaking UCP or TAP, and short texts to another copy
of itself inside the signalling of unanswered calls.
.
A console front end (tolvar --console, also as a systemd user service) runs
it without a desktop. tolvar-line, a simulated ISDN exchange speaking remote
CAPI, lets it run without ISDN hardware. The user interface is German.")

include(CPack)
