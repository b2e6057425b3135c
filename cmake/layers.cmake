# One static library per layer of src/, each built from an explicit list of the
# files of its folder. A layer links the layers it builds on, and a file may
# include headers of its own folder and of the layers below it only: the
# target `layering`, which every layer library depends on, fails the build
# naming the file and the include otherwise, or naming a file of a layer's
# folder that is in no list.

set_property(GLOBAL PROPERTY BELMIRE_LAYER_RULES "")
set_property(GLOBAL PROPERTY BELMIRE_LAYER_FILES "")

# belmire_layer(<folder> SOURCES <file>... [LAYERS <folder>...] [PUBLIC <lib>...] [PRIVATE <lib>...]
#               [OWNS <header>...])
# builds belmire_<folder> from src/<folder>/<file>... on the layers named. The system headers it
# owns (an engine's client library) may be included in its folder only.
function(belmire_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LAYERS;PUBLIC;PRIVATE;OWNS")
  set(files ${arg_SOURCES})
  list(TRANSFORM files PREPEND ${PROJECT_SOURCE_DIR}/src/${folder}/)
  add_library(belmire_${folder} STATIC ${files})
  target_include_directories(belmire_${folder} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  set(below ${arg_LAYERS})
  list(TRANSFORM below PREPEND belmire_)
  target_link_libraries(belmire_${folder} PUBLIC ${below} ${arg_PUBLIC} PRIVATE ${arg_PRIVATE})
  add_dependencies(belmire_${folder} layering)
  string(JOIN "," layers ${arg_LAYERS})
  string(JOIN "," owns ${arg_OWNS})
  set_property(GLOBAL APPEND PROPERTY BELMIRE_LAYER_RULES "${folder}:${layers}:${owns}")
  set_property(GLOBAL APPEND PROPERTY BELMIRE_LAYER_FILES ${files})
endfunction()

# The check itself; call once after the last belmire_layer().
function(belmire_layering_check)
  get_property(rules GLOBAL PROPERTY BELMIRE_LAYER_RULES)
  get_property(files GLOBAL PROPERTY BELMIRE_LAYER_FILES)
  string(JOIN ";" rules_arg ${rules})
  string(REPLACE ";" "|" rules_arg "${rules_arg}")
  set(stamp ${PROJECT_BINARY_DIR}/layering.stamp)
  # Runs again when a file or the rules change; a file added to a folder
  # without a list entry is found at the next configure (CONFIGURE_DEPENDS).
  file(GLOB on_disk CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*/*.h ${PROJECT_SOURCE_DIR}/src/*/*.cpp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} "-DRULES=${rules_arg}" -DSTAMP=${stamp}
            -P ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
    DEPENDS ${on_disk} ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake ${PROJECT_SOURCE_DIR}/CMakeLists.txt
    COMMENT "Checking the includes between layers"
    VERBATIM)
  add_custom_target(layering DEPENDS ${stamp})
  # The source lists themselves are passed through a file: the command line would be long.
  file(WRITE ${PROJECT_BINARY_DIR}/layering_files.txt "")
  foreach(f ${files})
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${f})
    file(APPEND ${PROJECT_BINARY_DIR}/layering_files.txt "${rel}\n")
  endforeach()
endfunction()
