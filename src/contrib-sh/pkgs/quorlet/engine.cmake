# The origin-table engine. Sources and tests join as they are written; a
# file that does not exist yet is left out.
set(_engine_sources
  GD_lex.cpp GD_parse.cpp
  grammarDefinitionParserControl.cpp grammarDefinitionParserControl_nets.cpp
  rtnet.cpp rtnet_io.cpp)
set(_engine_existing)
foreach(f ${_engine_sources})
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${f})
    list(APPEND _engine_existing ${f})
  endif()
endforeach()
add_library(quorlet_engine STATIC ${_engine_existing})
target_include_directories(quorlet_engine PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quorlet_engine PUBLIC quorlet_base ZLIB::ZLIB container)

if(BUILD_TESTING)
  foreach(t compile_test nets_test parse_test files_test)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/${t}.cpp)
      tovik_add_gtest(quorlet_${t} SOURCES tests/${t}.cpp LIBS quorlet_engine)
    endif()
  endforeach()
endif()
