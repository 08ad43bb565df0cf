# brivon_delay_import(NAME [DLLIMPORT_HEADER]): an interface target brivon_delayed_NAME that links
# NAME.dll so that it loads at the first call into it, not with the program. The delay-import
# library is made at configure time from the toolchain's own import library: its names, through
# dlltool.
# DLLIMPORT_HEADER: the library's header declares its functions __declspec(dllimport), so calls go
# through the import slot alone and never name a function's own stub. ld then drops those stubs,
# and with them the code a slot starts out pointing at: the first call would jump to nothing. The
# stubs are kept by naming every one of them to the linker first (an EXTERN list): the library's
# every function is then in the program, each loading it at its first call.
function(brivon_delay_import name)
  cmake_parse_arguments(D "DLLIMPORT_HEADER" "" "" ${ARGN})
  set(folder ${CMAKE_BINARY_DIR}/delay_import)
  set(library ${folder}/lib${name}_delayed.a)
  if(NOT EXISTS ${library})
    file(MAKE_DIRECTORY ${folder})
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${name}.a
                    OUTPUT_VARIABLE import_library OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${CMAKE_NM} ${import_library} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    # "__imp_Name" on x86-64, "__imp__Name@bytes" for the stdcall functions of i386.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(prefix "__imp__")
      set(kill_at -k)
    else()
      set(prefix "__imp_")
      set(kill_at)
    endif()
    string(REGEX MATCHALL " I ${prefix}[^\n]+" entries "${symbols}")
    list(TRANSFORM entries REPLACE " I ${prefix}" "")
    list(REMOVE_DUPLICATES entries)
    list(JOIN entries "\n" exports)
    file(WRITE ${folder}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${CMAKE_DLLTOOL} ${kill_at} --input-def ${folder}/${name}.def
                            --output-delaylib ${library} --dllname ${name}.dll COMMAND_ERROR_IS_FATAL ANY)
  endif()
  add_library(brivon_delayed_${name} INTERFACE)
  # The real import library after it, for anything the delay-import library does not give.
  target_link_libraries(brivon_delayed_${name} INTERFACE ${library} ${name})
  if(D_DLLIMPORT_HEADER)
    set(keep ${folder}/${name}_stubs.ld)
    if(NOT EXISTS ${keep})
      execute_process(COMMAND ${CMAKE_NM} ${library} OUTPUT_VARIABLE stubs COMMAND_ERROR_IS_FATAL ANY)
      string(REGEX MATCHALL " T [^\n]+" stubs "${stubs}")
      list(TRANSFORM stubs REPLACE " T " "")
      list(FILTER stubs EXCLUDE REGEX "tailMerge")
      list(TRANSFORM stubs PREPEND "EXTERN(\"")
      list(TRANSFORM stubs APPEND "\")")
      list(JOIN stubs "\n" lines)
      file(WRITE ${keep} "${lines}\n")
    endif()
    # Ahead of every object: a stub named once its member is already in is dropped all the same.
    target_link_options(brivon_delayed_${name} INTERFACE ${keep})
  endif()
endfunction()
