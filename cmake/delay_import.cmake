# brivon_delay_import(NAME): an interface target brivon_delayed_NAME that links NAME.dll so that it
# loads at the first call into it, not with the program. The delay-import library is made at
# configure time from the toolchain's own import library: its names, through dlltool.
function(brivon_delay_import name)
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
endfunction()
