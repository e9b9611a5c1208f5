# Protocol modules. The ASN.1 sources in schema/ are the single source of
# truth; tools/asn1gen.py compiles them at build time into the build tree
# (nothing generated is committed):
#   ${GW_ASN1_GEN_DIR}/summary.json     kinds and counts of every type
#   ${GW_ASN1_GEN_DIR}/reachable.txt    the types reachable from the roots
#   ${GW_ASN1_GEN_DIR}/erlang/          the Erlang variant for the cross-check
#   ${GW_ASN1_GEN_DIR}/<MODULE>.hpp/.cpp the C++ modules, built into the
#                                        static library gw_asn1_modules
#   ${GW_ASN1_GEN_DIR}/registry.hpp/.cpp every named type by name
# Code includes them as "asn1/modules/LGCP.hpp": the generated root is on the
# library's include path.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(GW_ASN1_MODULES LGCP TERM DIZORU ACP HSP BASE MON)
set(GW_GEN_ROOT ${CMAKE_BINARY_DIR}/gen)
set(GW_ASN1_GEN_DIR ${GW_GEN_ROOT}/asn1/modules)
# Seen by every folder: the tests that hand our encodings to Erlang use it.
set(GW_ASN1_GEN_DIR ${GW_ASN1_GEN_DIR} CACHE INTERNAL "generated protocol modules")

set(GW_ASN1_SOURCES)
foreach(m IN LISTS GW_ASN1_MODULES)
  list(APPEND GW_ASN1_SOURCES ${CMAKE_CURRENT_LIST_DIR}/schema/${m}.asn)
endforeach()
file(GLOB GW_ASN1_GEN_TOOL CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/tools/asn1gen.py ${CMAKE_SOURCE_DIR}/tools/asn1gen/*.py)

set(GW_ASN1_GEN_OUTPUTS
    ${GW_ASN1_GEN_DIR}/summary.json
    ${GW_ASN1_GEN_DIR}/reachable.txt
    ${GW_ASN1_GEN_DIR}/erlang/model.eterm
    ${GW_ASN1_GEN_DIR}/erlang/order.txt)
set(GW_ASN1_GEN_CXX ${GW_ASN1_GEN_DIR}/registry.cpp)
list(APPEND GW_ASN1_GEN_OUTPUTS ${GW_ASN1_GEN_DIR}/registry.hpp ${GW_ASN1_GEN_DIR}/registry.cpp)
foreach(m IN LISTS GW_ASN1_MODULES)
  list(APPEND GW_ASN1_GEN_OUTPUTS ${GW_ASN1_GEN_DIR}/erlang/${m}.asn
       ${GW_ASN1_GEN_DIR}/${m}.hpp ${GW_ASN1_GEN_DIR}/${m}.cpp)
  list(APPEND GW_ASN1_GEN_CXX ${GW_ASN1_GEN_DIR}/${m}.cpp)
endforeach()

# The generator leaves unchanged outputs untouched, so the stamp is what
# tells the build that it ran.
add_custom_command(
  OUTPUT ${GW_ASN1_GEN_DIR}/asn1gen.stamp
  BYPRODUCTS ${GW_ASN1_GEN_OUTPUTS}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/asn1gen.py
          --out ${GW_ASN1_GEN_DIR} ${GW_ASN1_SOURCES}
  COMMAND ${CMAKE_COMMAND} -E touch ${GW_ASN1_GEN_DIR}/asn1gen.stamp
  DEPENDS ${GW_ASN1_SOURCES} ${GW_ASN1_GEN_TOOL}
  COMMENT "Compiling the ASN.1 protocol modules"
  VERBATIM)
add_custom_target(gw_asn1_generate ALL DEPENDS ${GW_ASN1_GEN_DIR}/asn1gen.stamp)

# Plain constant tables and one-line accessors: the library stays quick to
# compile on a small build machine.
add_library(gw_asn1_modules STATIC ${GW_ASN1_GEN_CXX})
add_dependencies(gw_asn1_modules gw_asn1_generate)
target_include_directories(gw_asn1_modules PUBLIC ${GW_GEN_ROOT})
target_link_libraries(gw_asn1_modules PUBLIC gw_asn1)

if(GW_TESTS)
  # This file is read before the top level enables testing.
  enable_testing()
  set(erl_tests ${CMAKE_SOURCE_DIR}/tests/asn1/erlang)
  set(erl_dir ${GW_ASN1_GEN_DIR}/erlang)

  # Independent aligned-PER cross-check with Erlang/OTP's asn1 compiler.
  # Required: a machine without erlc fails these tests.
  add_test(NAME asn1_erlang_compile
           COMMAND bash ${erl_tests}/compile.sh ${erl_dir})
  set_tests_properties(asn1_erlang_compile PROPERTIES FIXTURES_SETUP asn1_erlang)

  add_test(NAME asn1_erlang_golden
           COMMAND escript ${erl_tests}/golden.escript ${erl_dir}/per)
  # The golden transcripts' octets against their value notation.
  add_test(NAME asn1_erlang_transcripts
           COMMAND escript ${erl_tests}/transcripts.escript ${erl_dir}/per ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME asn1_erlang_corpus
           COMMAND escript ${erl_tests}/corpus.escript ${erl_dir}/per
                   ${erl_dir}/model.eterm ${GW_ASN1_GEN_DIR}/reachable.txt
                   ${GW_ASN1_GEN_DIR}/corpus_erlang_per.txt 20260707 24)
  set_tests_properties(asn1_erlang_golden asn1_erlang_corpus asn1_erlang_transcripts
                       PROPERTIES FIXTURES_REQUIRED asn1_erlang)
  # Our decoder reads Erlang's corpus (tests/asn1/modules).
  set_tests_properties(asn1_erlang_corpus PROPERTIES FIXTURES_SETUP asn1_erlang_corpus_file)

  # The sources against the counts of the protocol tables, and the
  # generator's refusals.
  add_test(NAME asn1_schema_counts
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/asn1/schema_counts_test.py
                   ${GW_ASN1_GEN_DIR}/summary.json $<TARGET_FILE:asn1_modules_dump>)
  add_test(NAME asn1_schema_generator
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/asn1/schema_generator_test.py)
  # Build-machine tooling: checked once, by the host build.
  set_tests_properties(asn1_erlang_compile asn1_erlang_golden asn1_erlang_corpus
                       asn1_erlang_transcripts asn1_schema_counts asn1_schema_generator
                       PROPERTIES LABELS host-only)
endif()

if(GW_TESTS)
  # The generated modules' own tests (they link the shared test main, which
  # tests/ defines later; target names resolve when the build is generated).
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/asn1/modules ${CMAKE_BINARY_DIR}/tests/asn1/modules)
endif()
