# Turns the icon images the package installs (data/icons/dotfall-N.png) into
# C data the X11 program carries, so that its windows show the same icon as
# the menu without a PNG decoder at run time: each size as RGBA bytes, row by
# row, for _NET_WM_ICON, and the 48-pixel one as XPM for the library's
# WM_HINTS icon. Run by the build:
#   cmake -DICONS=dir -DSIZES=16,32,... -DOUT=file -DPNGTOPAM=path -DPPMTOXPM=path -P icons.cmake
# (netpbm's tools, found when the build is configured).
string(REPLACE "," ";" sizes "${SIZES}")
set(text "/* Made by the build (tools/icons.cmake) from data/icons: do not edit. */\n")
set(list "")
foreach(size ${sizes})
  set(png ${ICONS}/dotfall-${size}.png)
  execute_process(COMMAND ${PNGTOPAM} -alphapam ${png} OUTPUT_FILE ${OUT}.pam COMMAND_ERROR_IS_FATAL ANY)
  # The header ends with ENDHDR and a newline; the pixels follow.
  file(READ ${OUT}.pam hex HEX)
  string(FIND "${hex}" "454e444844520a" at)
  math(EXPR at "${at} + 14")
  string(SUBSTRING "${hex}" ${at} -1 hex)
  string(LENGTH "${hex}" n)
  math(EXPR want "${size} * ${size} * 8")
  if(NOT n EQUAL want OR NOT hex MATCHES "^[0-9a-f]*$")
    message(FATAL_ERROR "${png}: not ${size}x${size} RGBA pixels")
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND text "static const unsigned char icon_${size}[] = {\n${bytes}};\n")
  string(APPEND list "\t{ ${size}, icon_${size} },\n")
endforeach()
file(REMOVE ${OUT}.pam)
string(APPEND text "static const struct { int side; const unsigned char *rgba; } ICONS[] = {\n${list}};\n")

execute_process(COMMAND ${PNGTOPAM} -alpha ${ICONS}/dotfall-48.png OUTPUT_FILE ${OUT}.pgm COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${PNGTOPAM} ${ICONS}/dotfall-48.png
  COMMAND ${PPMTOXPM} -name icon_xpm -alphamask=${OUT}.pgm
  OUTPUT_VARIABLE xpm COMMAND_ERROR_IS_FATAL ANY ERROR_QUIET)
file(REMOVE ${OUT}.pgm)
string(REPLACE "static char *" "static const char *" xpm "${xpm}")
string(REGEX REPLACE "^/\\* XPM \\*/\n" "" xpm "${xpm}")
string(APPEND text "${xpm}")
file(WRITE ${OUT} "${text}")
