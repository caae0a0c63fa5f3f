# kestrel_library(NAME DEPS...): a static library from every .cpp below the
# calling folder (sub-folders included), linked to the given libraries.
function(kestrel_library name)
  file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_srcs)
    add_library(${name} STATIC ${_srcs})
  else()
    add_library(${name} INTERFACE)
  endif()
  if(_srcs)
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# kestrel_test(NAME DIR DEPS...): one GoogleTest executable from DIR/*_test.cpp.
function(kestrel_test name)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs} ${CMAKE_SOURCE_DIR}/tests/support/fixture.cpp)
  target_link_libraries(${name} PRIVATE ${ARGN} ZLIB::ZLIB GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    KESTREL_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
    KESTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    KESTREL_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
