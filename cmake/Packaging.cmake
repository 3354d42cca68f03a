# `cmake --build build --target package` makes torvane_<version>_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "The Torvane developers <${TORVANE_MAINTAINER_EMAIL}>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; Qt loads its platform plugins at run time, which no scan sees.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The layout was drawn for IPA P Gothic, the first substitute the window asks for; with Noto Sans CJK its
# labels are set smaller to fit.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write and edit XML data-packet files")
# CPack puts the summary on the Description line itself; this is the long description under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Torvane writes the XML data-packet files (the DATAPACKET format) in which
client-side in-memory dataset components keep a local table: define the
fields, pick the key fields, type records into a grid and get the packet as
XML text, which can be edited by hand, saved, loaded and read back.
.
Torvane は、クライアント側のデータセット部品がローカルの表を保存する
XML データパケット（DATAPACKET 形式）のファイルを作成・編集する
デスクトップツールです。ウィンドウの表示はすべて日本語です。")
include(CPack)
