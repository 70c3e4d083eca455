# Every library Orva builds on, found once here. All come from Debian 12's packages
# (scripts/install-deps.sh installs them).
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Concurrent Network DBus Test)
find_package(PkgConfig REQUIRED)
find_package(ZLIB REQUIRED)
pkg_check_modules(TIFF REQUIRED IMPORTED_TARGET libtiff-4)
pkg_check_modules(HEIF REQUIRED IMPORTED_TARGET libheif>=1.15)
pkg_check_modules(LIBRAW REQUIRED IMPORTED_TARGET libraw_r>=0.20)
pkg_check_modules(EXIV2 REQUIRED IMPORTED_TARGET exiv2>=0.27)
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0>=2.74 gio-unix-2.0)
if(ORVA_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
