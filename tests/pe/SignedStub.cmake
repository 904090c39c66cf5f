# The stub signed for pe_test, as a release engineer signs an updater: by
# osslsigncode, with a throwaway certificate that openssl makes here (no
# time stamp: tests never reach the network), so that the signer's subject
# is read from a real Authenticode signature. Included by tests/ after
# pe_test and the stub it tests (test_stub) are defined; without openssl,
# osslsigncode or a stub the test says why it is skipped.
find_program(KV_OPENSSL openssl)
find_program(KV_OSSLSIGNCODE osslsigncode)
set(signed_stub_missing)
if(NOT DEFINED test_stub)
  list(APPEND signed_stub_missing "a stub (this build makes none)")
endif()
if(NOT EXISTS "${KV_OPENSSL}")
  list(APPEND signed_stub_missing openssl)
endif()
if(NOT EXISTS "${KV_OSSLSIGNCODE}")
  list(APPEND signed_stub_missing osslsigncode)
endif()
if(signed_stub_missing)
  list(JOIN signed_stub_missing " and " signed_stub_missing)
  target_compile_definitions(pe_test PRIVATE
    KV_TEST_SIGNED_STUB_SKIPPED="the signed stub needs ${signed_stub_missing}")
  return()
endif()

set(signed_dir ${CMAKE_CURRENT_BINARY_DIR}/pe-signed)
add_custom_command(
  OUTPUT ${signed_dir}/signed-stub.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${signed_dir}
  COMMAND ${KV_OPENSSL} genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048
          -out ${signed_dir}/key.pem
  COMMAND ${KV_OPENSSL} req -x509 -key ${signed_dir}/key.pem -sha256 -days 3650
          -subj "/O=Konvoro/CN=Konvoro updater" -addext "keyUsage=critical,digitalSignature"
          -addext "extendedKeyUsage=codeSigning" -out ${signed_dir}/certificate.pem
  COMMAND ${CMAKE_COMMAND} -E rm -f ${signed_dir}/signed-stub.exe
  COMMAND ${KV_OSSLSIGNCODE} sign -certs ${signed_dir}/certificate.pem -key ${signed_dir}/key.pem
          -h sha256 -in ${test_stub} -out ${signed_dir}/signed-stub.exe
  DEPENDS ${test_stub}
  COMMENT "Signing a copy of the stub with a throwaway certificate"
  VERBATIM)
add_custom_target(pe_test_signed_stub DEPENDS ${signed_dir}/signed-stub.exe)
if(KV_UPDATER_STUB AND TARGET ${KV_UPDATER_STUB})
  add_dependencies(pe_test_signed_stub ${KV_UPDATER_STUB})
elseif(TARGET stub_build)
  add_dependencies(pe_test_signed_stub stub_build)
endif()
add_dependencies(pe_test pe_test_signed_stub)
# Relative to the test program, which under Wine sees no Linux paths.
file(RELATIVE_PATH signed_stub_path ${CMAKE_CURRENT_BINARY_DIR} ${signed_dir}/signed-stub.exe)
target_compile_definitions(pe_test PRIVATE KV_TEST_SIGNED_STUB="${signed_stub_path}")
