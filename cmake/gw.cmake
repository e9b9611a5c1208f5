# gw_library(NAME <name> [DEPS <libs>...]): one static library per subsystem
# folder, built from every source file in that folder and its subfolders.
# Globbing keeps the folder's CMakeLists stable while files are added.
function(gw_library)
  cmake_parse_arguments(GW "" "NAME" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(ex IN LISTS GW_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${ex}")
  endforeach()
  add_library(${GW_NAME} STATIC ${srcs})
  target_include_directories(${GW_NAME} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${GW_NAME} PUBLIC ${GW_DEPS})
endfunction()

# gw_test(NAME <name> DEPS <libs>... [SOURCES <files>...] [LABELS <labels>]
#         [FIXTURE <fixture>] [PREFIX <prefix>] [LOCK <resource>]): one
# GoogleTest executable per test folder; every *_test.cpp in the folder
# joins it unless SOURCES names the files. Each TEST becomes its own CTest
# case, its name led by PREFIX when given; FIXTURE names a CTest fixture that
# every case requires (what another test sets up first); LOCK names a
# resource that no two of the cases use at the same time.
function(gw_test)
  cmake_parse_arguments(GW "" "NAME;FIXTURE;PREFIX;LOCK" "DEPS;SOURCES;LABELS" ${ARGN})
  if(NOT GW_SOURCES)
    file(GLOB GW_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  endif()
  add_executable(${GW_NAME} ${GW_SOURCES})
  target_link_libraries(${GW_NAME} PRIVATE ${GW_DEPS} gw_test_main)
  # The folder's *_helper.cpp files are compiled once, for all its programs.
  gw_test_helpers(helpers DEPS ${GW_DEPS})
  if(helpers)
    target_link_libraries(${GW_NAME} PRIVATE ${helpers})
  endif()
  target_include_directories(${GW_NAME} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  # One value per property: gtest_discover_tests splits a value holding ";"
  # into separate arguments, which shifted every later property (LABELS).
  set(props ENVIRONMENT "GW_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}"
            ENVIRONMENT_MODIFICATION "GW_SOURCE_DIR=set:${CMAKE_SOURCE_DIR}")
  if(GW_LABELS)
    list(APPEND props LABELS "${GW_LABELS}")
  endif()
  if(GW_FIXTURE)
    list(APPEND props FIXTURES_REQUIRED "${GW_FIXTURE}")
  endif()
  if(GW_LOCK)
    list(APPEND props RESOURCE_LOCK "${GW_LOCK}")
  endif()
  set(prefix)
  if(GW_PREFIX)
    set(prefix TEST_PREFIX ${GW_PREFIX})
  endif()
  gtest_discover_tests(${GW_NAME} DISCOVERY_TIMEOUT 60 ${prefix} PROPERTIES ${props})
endfunction()

# gw_test_helpers(<var> DEPS <libs>...): the object library of the current
# test folder's *_helper.cpp files, made on the first call (compiled against
# DEPS), named gw_<folder>_test_helpers; <var> is empty for a folder without
# helpers. A program of another folder that needs them links that library.
function(gw_test_helpers var)
  cmake_parse_arguments(GW "" "" "DEPS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(lib gw_${folder}_test_helpers)
  if(NOT TARGET ${lib})
    file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_helper.cpp)
    if(NOT helpers)
      set(${var} "" PARENT_SCOPE)
      return()
    endif()
    add_library(${lib} OBJECT ${helpers})
    target_include_directories(${lib} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(${lib} PRIVATE ${GW_DEPS} GTest::gtest GTest::gmock)
  endif()
  set(${var} ${lib} PARENT_SCOPE)
endfunction()

# gw_subsystem_libraries(<var>): every subsystem library that exists, highest
# first, so that a static link resolves in one pass.
function(gw_subsystem_libraries var)
  set(libs)
  foreach(dir IN LISTS GW_SUBSYSTEMS)
    if(TARGET gw_${dir})
      list(PREPEND libs gw_${dir})
    endif()
  endforeach()
  set(${var} ${libs} PARENT_SCOPE)
endfunction()
