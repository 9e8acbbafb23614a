# Each library exposes its own headers and no others: its include folder in
# the build tree holds one entry, a link named after the library to its
# source folder. A library sees a header of another only when it links that
# library, so an include of batch/ from text/ (or of Qt in the core) fails
# to build.
function(lapse_library_headers target name)
  set(include_dir "${PROJECT_BINARY_DIR}/include/${name}")
  file(MAKE_DIRECTORY "${include_dir}")
  if(NOT EXISTS "${include_dir}/${name}")
    file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${include_dir}/${name}" SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC "${include_dir}")
  target_compile_features(${target} PUBLIC cxx_std_20)
endfunction()

# On Windows, the program file's icon and version information.
function(lapse_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  enable_language(RC)
  set(LAPSE_ICO "${PROJECT_SOURCE_DIR}/packaging/windows/lapse.ico")
  set(LAPSE_FILE_NAME ${target})
  set(LAPSE_FILE_DESCRIPTION "${description}")
  configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/lapse.rc.in"
                 "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc" @ONLY)
  target_sources(${target} PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
endfunction()
