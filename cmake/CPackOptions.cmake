# Read by cpack for each package it makes: the archive holds the install
# tree as it is (bin/, share/, lib/), the .deb puts it under /usr.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()
