# Installation: the shared library (with its SONAME) and the C header for C
# and foreign callers, the C++ API headers with a static archive of the core
# for C++ callers, the command-line verifier, a CMake package and pkg-config
# files.
#
# The shared library exports exactly the C ABI (cmake/quenfold_log.map), so
# the C++ API cannot live in it without widening that surface. C++ callers
# link libquenfold_log_cpp.a instead: the core and the crypto component in
# one archive, which needs OpenSSL's libcrypto (3.5 or later) and libsodium at
# link time: the static archives this build used are installed beside it in
# <libdir>/quenfold_log/ (out of the linker's default search), so that
# consumers need nothing the package does not install and never pick them up
# by accident for -lcrypto or -lsodium.
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

set(QUENFOLD_PRIVATE_DIR ${CMAKE_INSTALL_LIBDIR}/quenfold_log)
get_target_property(_qf_libcrypto OpenSSL::Crypto IMPORTED_LOCATION)
install(FILES ${_qf_libcrypto} DESTINATION ${QUENFOLD_PRIVATE_DIR} RENAME libcrypto.a)
install(FILES ${QUENFOLD_SODIUM_ARCHIVE} DESTINATION ${QUENFOLD_PRIVATE_DIR} RENAME libsodium.a)

install(TARGETS quenfold_log
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
# The extension library: the C++ API's objects behind the same calling
# convention, for bindings in other languages.
install(TARGETS quenfold_log_ext
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
install(TARGETS quenfold-verify RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QUENFOLD_CPP_ARCHIVE} DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/quenfold_log.h ${CMAKE_SOURCE_DIR}/include/quenfold_log_ext.h
  ${QUENFOLD_GENERATED_INCLUDE}/quenfold_log_version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
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
