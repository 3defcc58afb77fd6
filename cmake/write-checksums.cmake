# Run by cpack once the packages are made: writes SHA256SUMS beside them, one line a package
# in the form sha256sum -c reads.
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 ${package} hash)
  get_filename_component(name ${package} NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
