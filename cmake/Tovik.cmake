# Helpers shared by every library, package and test of the tree.

if(TOVIK_ASAN)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
    OUTPUT_VARIABLE TOVIK_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

# tovik_add_package(<target> PKG <Name> VERSION <v> SOURCES ... [LIBS ...] [SCRIPTS ...])
# Builds a Tcl package as lib/tcl/<target>/lib<target>.so with a generated
# pkgIndex.tcl; SCRIPTS are copied beside it and sourced before the load.
function(tovik_add_package target)
  cmake_parse_arguments(P "" "PKG;VERSION;INIT" "SOURCES;LIBS;SCRIPTS" ${ARGN})
  if(NOT P_INIT)
    set(P_INIT ${P_PKG})
  endif()
  set(dir ${TOVIK_TCL_DIR}/${target})
  add_library(${target} MODULE ${P_SOURCES})
  target_include_directories(${target} PRIVATE ${TCL_INCLUDE_PATH})
  target_link_libraries(${target} PRIVATE ${P_LIBS} ${TCL_LIBRARY})
  set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${dir}
    CXX_VISIBILITY_PRESET default)
  set(sources "")
  foreach(s ${P_SCRIPTS})
    get_filename_component(n ${s} NAME)
    configure_file(${s} ${dir}/${n} COPYONLY)
    string(APPEND sources "[list source [file join \$dir ${n}]]; ")
  endforeach()
  file(WRITE ${dir}/pkgIndex.tcl
    "package ifneeded ${P_PKG} ${P_VERSION} \"${sources}[list load [file join \$dir lib${target}.so] ${P_INIT}]\"\n")
endfunction()

# tovik_add_gtest(<name> SOURCES ... [LIBS ...])
function(tovik_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${TCL_INCLUDE_PATH})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main ${TCL_LIBRARY} pthread)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "TOVIK_SOURCE=${CMAKE_SOURCE_DIR};TOVIK_BUILD=${CMAKE_BINARY_DIR}")
endfunction()

# tovik_add_tcltests(<dir> [DEPENDS targets...] [ENV k=v ...] [XVFB])
# Registers every <dir>/*.test as one ctest case run by tclsh with the
# build tree's packages on auto_path.
function(tovik_add_tcltests dir)
  cmake_parse_arguments(T "XVFB" "" "DEPENDS;ENV" ${ARGN})
  file(GLOB tests ${dir}/*.test)
  list(SORT tests)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  foreach(t ${tests})
    get_filename_component(n ${t} NAME_WE)
    set(cmd ${TCL_TCLSH} ${CMAKE_SOURCE_DIR}/cmake/runtest.tcl ${t})
    if(TOVIK_ASAN)
      # tclsh is not built with the sanitizer: its runtime must come first,
      # for tclsh alone (not for Xvfb).
      set(cmd env LD_PRELOAD=${TOVIK_ASAN_RUNTIME} ${cmd})
      if(T_XVFB)
        # The X server's GL driver is unloaded before the leak check, so its
        # own blocks show as leaks of an unknown module; the offscreen twins
        # of the display tests keep the leak check on our code.
        set(cmd env ASAN_OPTIONS=detect_leaks=0 ${cmd})
      endif()
    endif()
    if(T_XVFB)
      set(cmd xvfb-run -a -s "-screen 0 1024x768x24" ${cmd})
    endif()
    add_test(NAME tcl.${folder}.${n} COMMAND ${cmd})
    set(env "TCLLIBPATH=${TOVIK_TCL_DIR};TOVIK_SOURCE=${CMAKE_SOURCE_DIR};TOVIK_BUILD=${CMAKE_BINARY_DIR};TOVIK_AUDIO=virtual")
    set_tests_properties(tcl.${folder}.${n} PROPERTIES ENVIRONMENT "${env};${T_ENV}")
  endforeach()
endfunction()
