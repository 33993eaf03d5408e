# Helpers shared by every library, package and test of the tree.

if(TOVIK_ASAN)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
    OUTPUT_VARIABLE TOVIK_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
  # tclsh is a C program: for packages whose errors travel as C++
  # exceptions, the C++ runtime must arrive with the sanitizer, or it cannot
  # catch the first one (CXXRT below). Not for the others: with Mesa's
  # threads it upsets the leak checker.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so.6
    OUTPUT_VARIABLE TOVIK_STDCXX OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

# Installed layout: each package in its own folder under lib/tcltk (on
# Debian's auto_path for /usr/local), the shared libraries they link in
# lib/tovik, programs in bin, data under share/tovik. One run path serves all
# three kinds of folder.
set(TOVIK_INSTALL_PKGDIR lib/tcltk)
set(TOVIK_INSTALL_LIBDIR lib/tovik)
set(TOVIK_INSTALL_DATADIR share/tovik)
set(CMAKE_INSTALL_RPATH "$ORIGIN;$ORIGIN/../lib/tovik;$ORIGIN/../../tovik")

# tovik_add_package(<target> PKG <Name> VERSION <v> SOURCES ... [LIBS ...] [SCRIPTS ...] [TESTONLY])
# Builds a Tcl package as lib/tcl/<target>/lib<target>.so with a generated
# pkgIndex.tcl; SCRIPTS are copied beside it and sourced before the load.
# A TESTONLY package serves the tests from the build tree and is never
# installed.
function(tovik_add_package target)
  cmake_parse_arguments(P "TESTONLY" "PKG;VERSION;INIT" "SOURCES;LIBS;SCRIPTS" ${ARGN})
  if(NOT P_INIT)
    set(P_INIT ${P_PKG})
  endif()
  # A package built from a tests/ folder serves the tests alone.
  list(GET P_SOURCES 0 first)
  if(first MATCHES "^tests/")
    set(P_TESTONLY TRUE)
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
  if(NOT P_TESTONLY)
    set(to ${TOVIK_INSTALL_PKGDIR}/${target})
    install(TARGETS ${target} LIBRARY DESTINATION ${to})
    install(FILES ${dir}/pkgIndex.tcl ${P_SCRIPTS} DESTINATION ${to})
    set_property(GLOBAL APPEND PROPERTY TOVIK_INSTALLED_PACKAGES ${P_PKG})
  endif()
endfunction()

# tovik_install_programs(<target>...): command-line programs for users.
function(tovik_install_programs)
  install(TARGETS ${ARGN} RUNTIME DESTINATION bin)
endfunction()

# Installs every shared library of the tree below <dir>: packages and
# programs link them, and a new library needs no install line of its own.
function(tovik_install_shared_libraries dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      install(TARGETS ${t} LIBRARY DESTINATION ${TOVIK_INSTALL_LIBDIR})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(d ${subdirs})
    tovik_install_shared_libraries(${d})
  endforeach()
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

# tovik_add_tcltests(<dir> [DEPENDS targets...] [ENV k=v ...] [XVFB] [CXXRT])
# Registers every <dir>/*.test as one ctest case run by tclsh with the
# build tree's packages on auto_path.
function(tovik_add_tcltests dir)
  cmake_parse_arguments(T "XVFB;CXXRT" "" "DEPENDS;ENV" ${ARGN})
  set(preload ${TOVIK_ASAN_RUNTIME})
  if(T_CXXRT)
    set(preload "${TOVIK_ASAN_RUNTIME}:${TOVIK_STDCXX}")
  endif()
  file(GLOB tests ${dir}/*.test)
  list(SORT tests)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  foreach(t ${tests})
    get_filename_component(n ${t} NAME_WE)
    set(cmd ${TCL_TCLSH} ${CMAKE_SOURCE_DIR}/cmake/runtest.tcl ${t})
    if(TOVIK_ASAN)
      # tclsh is not built with the sanitizer: its runtime must come first,
      # for tclsh alone (not for Xvfb).
      set(cmd env LD_PRELOAD=${preload} ${cmd})
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
