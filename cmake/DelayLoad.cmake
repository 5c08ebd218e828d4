# The system libraries that only some roads of the program need are loaded on
# their first call rather than at start: the up-to-date road then shows its
# window without loading them (under Wine they take about 30 ms of a 200 ms
# start). For each one a delay-load import library is made from MinGW's own
# import library, with every function it exports, and an imported target of
# the library's plain name stands for it, so that every target that links
# "wininet" (say) gets the delay-loaded one. The program's hook (app/Main.cpp)
# then loads them from the system folder only.
#   kv_delay_load(<library>...)

find_program(KV_NM NAMES ${TOOLCHAIN_PREFIX}-nm REQUIRED)
find_program(KV_DLLTOOL NAMES ${TOOLCHAIN_PREFIX}-dlltool REQUIRED)

function(kv_delay_load)
  set(folder ${CMAKE_BINARY_DIR}/delayload)
  file(MAKE_DIRECTORY ${folder})
  foreach(library IN LISTS ARGN)
    set(import /usr/${TOOLCHAIN_PREFIX}/lib/lib${library}.a)
    set(delayed ${folder}/lib${library}_delayed.a)
    if(NOT EXISTS ${delayed} OR ${import} IS_NEWER_THAN ${delayed})
      kv_write_delay_library(${library} ${import} ${delayed})
    endif()
    add_library(${library} STATIC IMPORTED GLOBAL)
    # The helper that resolves the calls on first use comes with MinGW's
    # runtime, which every program links last.
    set_target_properties(${library} PROPERTIES IMPORTED_LOCATION ${delayed})
  endforeach()
endfunction()

function(kv_write_delay_library library import delayed)
  execute_process(COMMAND ${KV_NM} ${import} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Cannot read the exports of ${import}")
  endif()
  # A function has both its import slot (__imp_) and its call thunk (T); a
  # datum has only the slot and cannot be loaded late. 32-bit names carry one
  # more leading underscore and their @n, which the definition keeps.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(decoration "_")
  else()
    set(decoration "")
  endif()
  string(REGEX MATCHALL "[0-9a-f]+ T ${decoration}[A-Za-z_][A-Za-z0-9_@]*" thunks "${symbols}")
  set(definition "LIBRARY ${library}.dll\nEXPORTS\n")
  foreach(thunk IN LISTS thunks)
    string(REGEX REPLACE "^[0-9a-f]+ T ${decoration}" "" name "${thunk}")
    if(symbols MATCHES "I __imp_${decoration}${name}\n")
      string(APPEND definition "${name}\n")
    endif()
  endforeach()
  file(WRITE ${delayed}.def "${definition}")
  execute_process(COMMAND ${KV_DLLTOOL} --kill-at --input-def ${delayed}.def --dllname ${library}.dll
                          --output-delaylib ${delayed}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Cannot make the delay-load library for ${library}")
  endif()
endfunction()
