# Delay-loaded system DLLs.
#
# The installer runs elevated from wherever it was downloaded, so a DLL planted
# beside it must never be loaded. The loader resolves static imports from the
# program's own folder before any code runs; only the KnownDLLs are safe from
# that. Every other DLL is therefore imported through a delay-load library:
# nothing is loaded until the first call, and by then the entry point has
# limited the search to System32 (SetDefaultDllDirectories).
#
# velnor_delay_load(<dll>) defines the INTERFACE target velnor::<dll>: the
# delay-import library made with dlltool from the names exported by the
# toolchain's own import library lib<dll>.a.
function(velnor_delay_load dll)
  set(import_lib ${CMAKE_FIND_ROOT_PATH}/lib/lib${dll}.a)
  if(NOT EXISTS ${import_lib})
    message(FATAL_ERROR "no import library ${import_lib}")
  endif()
  find_program(VELNOR_NM NAMES ${VELNOR_MINGW_PREFIX}-nm REQUIRED)
  find_program(VELNOR_DLLTOOL NAMES ${VELNOR_MINGW_PREFIX}-dlltool REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/delayload)
  file(MAKE_DIRECTORY ${dir})
  execute_process(COMMAND ${VELNOR_NM} ${import_lib} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "I __imp_[A-Za-z0-9_@]+" imports "${symbols}")
  list(TRANSFORM imports REPLACE "^I __imp_" "")
  list(REMOVE_DUPLICATES imports)
  list(SORT imports)
  list(JOIN imports "\n" exports)
  file(WRITE ${dir}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
  set(delay_lib ${dir}/lib${dll}_delay.a)
  execute_process(
    COMMAND ${VELNOR_DLLTOOL} --input-def ${dir}/${dll}.def --dllname ${dll}.dll
            --output-delaylib ${delay_lib}
    COMMAND_ERROR_IS_FATAL ANY)
  add_library(velnor_delay_${dll} INTERFACE)
  target_link_libraries(velnor_delay_${dll} INTERFACE ${delay_lib})
  add_library(velnor::${dll} ALIAS velnor_delay_${dll})
endfunction()
