# `cpack -G DEB` in the build tree makes talvoro_<version>_<arch>.deb from the install rules.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvoro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TALVORO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Russian dictation with on-device speech recognition")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Talvoro types what you say in Russian into the field under the cursor. Press
a global hotkey (Alt+Space by default) or hold it while speaking; the speech
is recognised on this computer by the GigaAM v3 model through ONNX Runtime
and is never sent anywhere. The text is inserted through the clipboard,
whose previous contents are put back afterwards. A recording that could not
be recognised or inserted waits in a queue and is tried again.
.
The model (about 226 MB) is downloaded once on first start. Works on X11
desktops and with X11 applications under XWayland; the program lives in the
system tray.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Library dependencies come from dpkg-shlibdeps; it finds the private ONNX Runtime through
# the program's $ORIGIN RPATH, inside the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Programs the tool runs: zip packs the samples; secret-tool reads a key from the desktop's
# keyring and espeak-ng speaks for the offline self-check, both optional.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "zip")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsecret-tools, espeak-ng")
include(CPack)
