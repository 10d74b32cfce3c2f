# Writes SHA256SUMS beside the installed files, in the format of sha256sum
# (and of what `certutil -hashfile FILE SHA256` prints on Windows).
set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB names RELATIVE "${dir}" "${dir}/*")
list(REMOVE_ITEM names SHA256SUMS)
list(SORT names)
set(sums "")
foreach(name IN LISTS names)
  if(NOT IS_DIRECTORY "${dir}/${name}")
    file(SHA256 "${dir}/${name}" hash)
    string(APPEND sums "${hash}  ${name}\n")
  endif()
endforeach()
file(WRITE "${dir}/SHA256SUMS" "${sums}")
