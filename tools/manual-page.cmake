# The manual page, data/dotfall.6, filled in for an install under `prefix`:
# the version, the release date, and the full paths of the program's folder
# and of the example settings file. Used at configure time for the build
# folder's copy and again by `cmake --install` for the prefix it installs to
# (CMAKE_INSTALL_BINDIR and CMAKE_INSTALL_DOCDIR as GNUInstallDirs set them).
function(dotfall_manual_page prefix out)
  foreach(dir BINDIR DOCDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
      set(full "${CMAKE_INSTALL_${dir}}")
    else()
      set(full "${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
    # troff takes a plain - for a hyphen; a path's is a minus sign.
    string(REPLACE "-" "\\-" DOTFALL_MAN_${dir} "${full}")
  endforeach()
  file(READ "${PROJECT_SOURCE_DIR}/data/dotfall.6" page)
  string(CONFIGURE "${page}" page @ONLY)
  file(WRITE "${out}" "${page}")
endfunction()
