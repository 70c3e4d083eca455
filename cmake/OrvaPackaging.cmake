# The Debian package: `cpack -G DEB` in a build folder (scripts/make-deb.sh does it all).
# Dependencies are computed from the linked shared libraries; Qt's plugins are loaded at run
# time, so the ones Orva cannot work without are named here.
set(CPACK_PACKAGE_NAME orva)
set(CPACK_PACKAGE_VENDOR "The Orva developers")
set(CPACK_PACKAGE_CONTACT "${ORVA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fast image viewer that browses the photos of a folder")
set(CPACK_PACKAGE_DESCRIPTION
    "Open a photo from your file manager and Orva shows it at once, sharp when\n"
    "you zoom in, with the rest of its folder one key press away. It offers fit,\n"
    "actual-size and auto-sized windows, a metadata overlay, colour tags shared\n"
    "with the file manager, frame-by-frame control of animations and a slideshow.\n"
    "\n"
    "It reads JPEG, PNG, GIF, TIFF, WebP, HEIC, AVIF, Photoshop and camera raw\n"
    "files.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # orva_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# TIFF, WebP and TGA readers; the X11 platform; the MIME database that picks decoders.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins, qt6-qpa-plugins, shared-mime-info")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
