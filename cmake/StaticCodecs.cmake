# zrvimage-batch starts for every command line, often on one small frame, where
# loading libtiff's sixteen shared libraries (its image codecs, each with their own
# relocations) took more than the frame. On Linux, where Debian's -dev packages ship
# the static archives, the batch tool links libtiff with the codecs it was built with,
# libdeflate, libpng and zlib into itself. Only a target that sets ZRV_STATIC_CODECS
# gets them, in place of the shared libraries; the window and the viewer keep sharing
# the libraries Qt loads anyway. The Windows build links its own static libraries.
find_package(Threads REQUIRED)
set(ZRV_STATIC_CODECS_FOUND OFF)
if(NOT WIN32)
  set(zrv_archives)
  set(ZRV_STATIC_CODECS_FOUND ON)
  # In link order: libtiff, its codecs, then what they and libpng share.
  foreach(name tiff webp zstd lzma Lerc jbig jpeg png16 deflate z)
    find_library(zrv_static_${name} NAMES lib${name}.a NO_CACHE)
    if(zrv_static_${name})
      list(APPEND zrv_archives ${zrv_static_${name}})
    else()
      set(ZRV_STATIC_CODECS_FOUND OFF)
    endif()
  endforeach()
  if(ZRV_STATIC_CODECS_FOUND)
    add_library(zrv_static_codecs INTERFACE)
    # Lerc is C++; libtiff and zstd need the maths library and threads.
    target_link_libraries(zrv_static_codecs INTERFACE ${zrv_archives} Threads::Threads m)
  else()
    message(STATUS "zrvimage-batch links the shared libtiff: a static archive of it or its codecs is missing")
  endif()
endif()
# What the linking target takes: true when it asked for the archives and they exist.
# $<TARGET_PROPERTY:...> in a library's link interface is read from the program
# being linked, so the engine and zrv_batch name the libraries through these.
set(zrv_static "$<AND:$<BOOL:${ZRV_STATIC_CODECS_FOUND}>,$<BOOL:$<TARGET_PROPERTY:ZRV_STATIC_CODECS>>>")
# The archives, or each library's shared one.
function(zrv_codec_link out shared)
  set(${out} "$<IF:${zrv_static},zrv_static_codecs,${shared}>" PARENT_SCOPE)
endfunction()
