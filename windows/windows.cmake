# The Windows build (cmake --preset windows): dotfall.exe linked with the
# static library that windows/build-library.sh built, and the zip that
# carries it with its settings example, read-me and licences.
set(ALLEGRO_PREFIX "${PROJECT_BINARY_DIR}/allegro/prefix" CACHE PATH
  "Where windows/build-library.sh installed the Allegro library for Windows")
if(NOT EXISTS "${ALLEGRO_PREFIX}/lib/liballeg.a")
  message(FATAL_ERROR "No Allegro library for Windows in ${ALLEGRO_PREFIX}: "
    "run windows/build-library.sh ${PROJECT_BINARY_DIR} first (./build.sh windows does).")
endif()
# The library is built again, before dotfall.exe links with it, whenever
# its patches, its toolchain or its build script change: build-library.sh
# keeps a build made from the same ones, and the exe relinks with a new one.
if(ALLEGRO_PREFIX STREQUAL "${PROJECT_BINARY_DIR}/allegro/prefix")
  file(GLOB allegro_patches CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/windows/patches/*.patch)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/allegro/stamp
    COMMAND sh ${PROJECT_SOURCE_DIR}/windows/build-library.sh ${PROJECT_BINARY_DIR}
    COMMAND ${CMAKE_COMMAND} -E touch ${PROJECT_BINARY_DIR}/allegro/stamp
    DEPENDS ${allegro_patches} ${PROJECT_SOURCE_DIR}/windows/toolchain-mingw64.cmake
      ${PROJECT_SOURCE_DIR}/windows/build-library.sh
    BYPRODUCTS ${ALLEGRO_PREFIX}/lib/liballeg.a
    COMMENT "The Allegro library for Windows, for changed patches"
    VERBATIM)
  add_custom_target(allegro_library DEPENDS ${PROJECT_BINARY_DIR}/allegro/stamp)
endif()
add_library(allegro STATIC IMPORTED)
set_target_properties(allegro PROPERTIES
  IMPORTED_LOCATION "${ALLEGRO_PREFIX}/lib/liballeg.a"
  INTERFACE_INCLUDE_DIRECTORIES "${ALLEGRO_PREFIX}/include"
  INTERFACE_COMPILE_DEFINITIONS ALLEGRO_STATICLINK
  INTERFACE_LINK_LIBRARIES "dinput;ddraw;dxguid;dsound;winmm;ole32;gdi32;comdlg32;user32;kernel32")

enable_language(RC)

# No build folder's path in the program.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)

# Writes a text into the build folder with Windows line ends.
function(windows_text name text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${PROJECT_BINARY_DIR}/${name} "${text}")
endfunction()

function(dotfall_windows_program target)
  # A GUI program (END_OF_MAIN supplies WinMain) with the library and the
  # compiler's runtime linked in, so that it needs only Windows' own DLLs;
  # no link time in its header, so the same source gives the same file.
  # Stripped here: strip and objcopy would write the time back in.
  target_link_options(${target} PRIVATE -mwindows -static -s -Wl,--no-insert-timestamp)

  # Its resources (windows/dotfall.rc.in): the icon, packed by icoutils from
  # the pictures that tools/make-images.sh draws, the version and the
  # manifest. The small pictures go in at 32 bits a pixel: icotool would store
  # two-colour ones at 1 bit, which Windows may take for black and white. The
  # 256 one stays the PNG it is, the form Windows reads at that size. windres
  # writes no time stamp, so the build stays reproducible.
  find_program(ICOTOOL icotool)
  if(NOT ICOTOOL)
    message(FATAL_ERROR "No icotool (Debian's icoutils) to make dotfall.exe's icon.")
  endif()
  set(icons ${PROJECT_SOURCE_DIR}/data/icons/dotfall)
  set(DOTFALL_ICO ${PROJECT_BINARY_DIR}/dotfall.ico)
  add_custom_command(OUTPUT ${DOTFALL_ICO}
    COMMAND ${ICOTOOL} -c -b 32 -o ${DOTFALL_ICO} ${icons}-16.png ${icons}-32.png ${icons}-48.png
      --raw=${icons}-256.png
    DEPENDS ${icons}-16.png ${icons}-32.png ${icons}-48.png ${icons}-256.png
    VERBATIM)
  file(STRINGS LICENSE DOTFALL_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
  configure_file(windows/dotfall.rc.in dotfall.rc @ONLY)
  target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/dotfall.rc ${DOTFALL_ICO})
  set_source_files_properties(${PROJECT_BINARY_DIR}/dotfall.rc PROPERTIES
    OBJECT_DEPENDS "${DOTFALL_ICO};${PROJECT_SOURCE_DIR}/windows/dotfall.manifest")

  # The zip: the program and, with Windows line ends, its texts.
  set(copyright /usr/share/doc/mingw-w64-x86-64-dev/copyright)
  execute_process(COMMAND awk -f ${PROJECT_SOURCE_DIR}/windows/notices.awk ${copyright} ${copyright}
    OUTPUT_VARIABLE runtime COMMAND_ERROR_IS_FATAL ANY)
  file(READ windows/NOTICES.txt notices)
  windows_text(NOTICES.txt "${notices}${runtime}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS windows/notices.awk ${copyright})
  # The example goes under a name dotfall does not read, so that the first
  # start is the default full screen README.txt promises.
  foreach(pair data/dotfall.ini:dotfall-example.ini windows/README.txt:README.txt LICENSE:LICENSE.txt
               ${ALLEGRO_PREFIX}/share/doc/allegro-license.txt:allegro-license.txt)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 from)
    list(GET pair 1 to)
    file(READ ${from} text)
    string(REPLACE "@PROJECT_VERSION@" "${PROJECT_VERSION}" text "${text}")
    windows_text(${to} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${from})
  endforeach()
  install(TARGETS ${target} RUNTIME DESTINATION .)
  foreach(text dotfall-example.ini README.txt LICENSE.txt NOTICES.txt allegro-license.txt)
    install(FILES ${PROJECT_BINARY_DIR}/${text} DESTINATION .)
  endforeach()
  set(CPACK_GENERATOR ZIP PARENT_SCOPE)
  set(CPACK_PACKAGE_FILE_NAME dotfall-${PROJECT_VERSION}-win64 PARENT_SCOPE)
endfunction()
