# Installation: the shared library (with its SONAME) and the C header for C
# and foreign callers, the C++ API headers with a static archive of the core
# for C++ callers, the command-line verifier, a CMake package and pkg-config
# files.
#
# The shared library exports exactly the C ABI (cmake/quenfold_log.map), so
# the C++ API cannot live in it without widening that surface. C++ callers
# link libquenfold_log_cpp.a instead: the core and the crypto component in
# one archive, which needs OpenSSL's libcrypto (3.5 or later) and libsodium at
# link time. When this build used static archives of them (a private OpenSSL
# build, libsodium built from source), those archives are installed beside it
# in <libdir>/quenfold_log/, so that consumers need nothing the package does
# not install; otherwise the package files require the system's.
#
# Every path in the package files is relative to where they are installed:
# no installed file names a directory of the build machine, and the installed
# tree can be moved as a whole.
include(GNUInstallDirs)

set(QUENFOLD_CPP_ARCHIVE ${CMAKE_BINARY_DIR}/libquenfold_log_cpp.a)
set(QUENFOLD_CPP_MRI ${CMAKE_BINARY_DIR}/quenfold_log_cpp.mri)
file(GENERATE OUTPUT ${QUENFOLD_CPP_MRI} CONTENT
"create ${QUENFOLD_CPP_ARCHIVE}
addlib $<TARGET_FILE:quenfold_core>
addlib $<TARGET_FILE:quenfold_crypto>
save
end
")
add_custom_command(
  OUTPUT ${QUENFOLD_CPP_ARCHIVE}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${QUENFOLD_CPP_ARCHIVE}
  COMMAND ${CMAKE_AR} -M < ${QUENFOLD_CPP_MRI}
  COMMAND ${CMAKE_RANLIB} ${QUENFOLD_CPP_ARCHIVE}
  DEPENDS quenfold_core quenfold_crypto ${QUENFOLD_CPP_MRI}
  COMMENT "Bundling the core into libquenfold_log_cpp.a"
  VERBATIM)
add_custom_target(quenfold_log_cpp ALL DEPENDS ${QUENFOLD_CPP_ARCHIVE})

# The static archive behind an imported dependency target, or "" when the
# build links a shared library (or anything else) for it.
function(quenfold_static_archive target out)
  set(found "")
  foreach(property IMPORTED_LOCATION_RELEASE IMPORTED_LOCATION INTERFACE_LINK_LIBRARIES)
    get_target_property(values ${target} ${property})
    foreach(v IN LISTS values)
      if(v MATCHES "\\.a$" AND EXISTS "${v}" AND found STREQUAL "")
        set(found "${v}")
      endif()
    endforeach()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(QUENFOLD_PRIVATE_DIR ${CMAKE_INSTALL_LIBDIR}/quenfold_log)
set(QUENFOLD_PRIVATE_ARCHIVES "")   # file names in QUENFOLD_PRIVATE_DIR, in link order
set(QUENFOLD_PC_REQUIRES "")        # what the consumer's system must provide instead
set(QUENFOLD_SYSTEM_OPENSSL FALSE)
set(QUENFOLD_SYSTEM_SODIUM FALSE)
if(TARGET QuenfoldSodium::sodium)
  set(_qf_sodium_target QuenfoldSodium::sodium)
else()
  set(_qf_sodium_target PkgConfig::SODIUM)
endif()
foreach(dep IN ITEMS OpenSSL::Crypto ${_qf_sodium_target})
  quenfold_static_archive(${dep} _qf_archive)
  if(dep STREQUAL "OpenSSL::Crypto")
    set(_qf_name libcrypto.a)
  else()
    set(_qf_name libsodium.a)
  endif()
  if(_qf_archive)
    install(FILES ${_qf_archive} DESTINATION ${QUENFOLD_PRIVATE_DIR} RENAME ${_qf_name})
    list(APPEND QUENFOLD_PRIVATE_ARCHIVES ${_qf_name})
  elseif(_qf_name STREQUAL "libcrypto.a")
    set(QUENFOLD_SYSTEM_OPENSSL TRUE)
    list(APPEND QUENFOLD_PC_REQUIRES "libcrypto >= 3.5")
  else()
    set(QUENFOLD_SYSTEM_SODIUM TRUE)
    list(APPEND QUENFOLD_PC_REQUIRES "libsodium")
  endif()
endforeach()
set(QUENFOLD_PC_PRIVATE_LIBS "")
foreach(a IN LISTS QUENFOLD_PRIVATE_ARCHIVES)
  string(APPEND QUENFOLD_PC_PRIVATE_LIBS " \${libdir}/quenfold_log/${a}")
endforeach()
list(JOIN QUENFOLD_PC_REQUIRES ", " QUENFOLD_PC_REQUIRES)

install(TARGETS quenfold_log
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
install(TARGETS quenfold-verify RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QUENFOLD_CPP_ARCHIVE} DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/quenfold_log.h ${QUENFOLD_GENERATED_INCLUDE}/quenfold_log_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/quenfold DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

# Paths inside the package files are relative to where they are installed,
# so the installed tree can be moved as a whole.
set(_qf_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/quenfold_log)
file(RELATIVE_PATH QUENFOLD_CMAKE_TO_PREFIX /prefix/${_qf_cmake_dir} /prefix)
file(RELATIVE_PATH QUENFOLD_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
include(CMakePackageConfigHelpers)
configure_file(${CMAKE_SOURCE_DIR}/cmake/quenfold_logConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/quenfold_logConfig.cmake @ONLY)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/quenfold_logConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
configure_file(${CMAKE_SOURCE_DIR}/cmake/quenfold_log.pc.in
  ${CMAKE_BINARY_DIR}/package/quenfold_log.pc @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/quenfold_log_cpp.pc.in
  ${CMAKE_BINARY_DIR}/package/quenfold_log_cpp.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/quenfold_logConfig.cmake
  ${CMAKE_BINARY_DIR}/package/quenfold_logConfigVersion.cmake DESTINATION ${_qf_cmake_dir})
install(FILES ${CMAKE_BINARY_DIR}/package/quenfold_log.pc ${CMAKE_BINARY_DIR}/package/quenfold_log_cpp.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
