# The Debian package: `cpack` in the build folder writes ferrylantern_<version>_<arch>.deb. Run-time
# libraries (Qt 6, FFmpeg, Avahi client, libqrencode, libsndfile, libuuid, utf8proc) are found by dpkg-shlibdeps
# from the binaries; what the binaries only load at run time is declared by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferrylantern)
set(CPACK_PACKAGE_VENDOR "FerryLantern")
set(CPACK_PACKAGE_CONTACT "FerryLantern developers <developers@ferrylantern.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Receive files from phones on the local network")
set(CPACK_PACKAGE_DESCRIPTION
    "A phone scans the QR code shown in the window, opens the upload page in its browser and sends files,
which land in a folder of your choice, one sub-folder per sending device. Uploads can be guarded by
a PIN and a confirmation on the desktop; received audio can be previewed. Includes
ferrylantern-server, the receiver without a window, with a systemd user unit.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window system plugins of Qt are loaded at run time, not linked.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# DNS-SD needs the Avahi daemon, playback a sound server, the Chinese texts a CJK font, and Qt's own dialogs
# their translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "avahi-daemon, pulseaudio | pipewire-pulse, fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ferrylantern.example")
include(CPack)
