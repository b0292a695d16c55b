# The shipped Windows program: its icon drawn from the shared artwork, and its debug information kept apart.
find_program(ORVANE_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(ORVANE_ICOTOOL icotool REQUIRED)
find_program(ORVANE_OBJCOPY ${ORVANE_MINGW_TRIPLE}-objcopy REQUIRED)

# orvane_program_icon(ICO SVG): an icon file with the drawing at the sizes Windows shows a program's icon, the
# largest stored as PNG, as Windows Vista and later read it.
function(orvane_program_icon ico svg)
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/icon)
  set(commands COMMAND ${CMAKE_COMMAND} -E make_directory ${folder})
  set(images)
  foreach(size IN ITEMS 16 24 32 48 256)
    list(APPEND commands COMMAND ${ORVANE_RSVG_CONVERT} -w ${size} -h ${size} -f png -o ${folder}/${size}.png ${svg})
    if(size EQUAL 256)
      list(APPEND images --raw=${folder}/${size}.png)
    else()
      list(APPEND images ${folder}/${size}.png)
    endif()
  endforeach()
  add_custom_command(OUTPUT ${ico} ${commands}
    COMMAND ${ORVANE_ICOTOOL} -c -o ${ico} ${images}
    DEPENDS ${svg}
    VERBATIM)
endfunction()

# orvane_ship_stripped(TARGET): after each link the executable loses its debug information (most of its size) to
# a file NAME.debug beside it, which it names by a debug link, so that a debugger given both finds it.
function(orvane_ship_stripped target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${ORVANE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${ORVANE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
      $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()

# orvane_version_header(FILE): the project's version as the numbers and the text of a version resource; written
# only when it changes. The text is also the global property ORVANE_FILE_VERSION, for the tests.
function(orvane_version_header file)
  set(patch 0)
  if(PROJECT_VERSION_PATCH)
    set(patch ${PROJECT_VERSION_PATCH})
  endif()
  set(text ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${patch}.0)
  set_property(GLOBAL PROPERTY ORVANE_FILE_VERSION ${text})
  file(CONFIGURE OUTPUT ${file} CONTENT "#define ORVANE_VERSION_MAJOR ${PROJECT_VERSION_MAJOR}
#define ORVANE_VERSION_MINOR ${PROJECT_VERSION_MINOR}
#define ORVANE_VERSION_PATCH ${patch}
#define ORVANE_VERSION_TEXT \"${text}\"
")
endfunction()
