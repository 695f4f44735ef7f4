# Gathers the third-party headers that the public headers include, for the Windows package
# (windows_package.cmake runs it with cmake -P while the package builds):
#
#   cmake -DDEPFILE=... -DOUTPUT=... -DROOTS=... -DOWN=... -DPUBLIC=... -P windows_package_headers.cmake
#
# DEPFILE is the compiler's dependency list (-M) of a file that includes every public header, made
# with include options for the project's folders and the SDK's only. Each header in it that lies
# under one of ROOTS (the Windows SDK's include folders) is copied to OUTPUT with its path below
# the root, so that OUTPUT holds exactly what an application's compiler opens there. PUBLIC are
# the project's headers that ship (full paths); any other header under OWN (the project's source
# and build folders) stops the package with its name, since an application could not compile
# against it. The rest is the compiler's own. (-MM cannot tell these apart: it also leaves out
# what a header marked as a system header includes, which Boost's configuration headers are.)
cmake_minimum_required(VERSION 3.16)
foreach(var DEPFILE OUTPUT ROOTS OWN PUBLIC)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "windows_package_headers: ${var} is not set")
  endif()
endforeach()

function(under path folders result)
  foreach(folder ${folders})
    string(FIND "${path}" "${folder}/" at)
    if(at EQUAL 0)
      set(${result} "${folder}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${result} "" PARENT_SCOPE)
endfunction()

# "probe.o: probe.cc a.h \<newline> b.h ...": the first name after the colon is the source itself.
file(READ "${DEPFILE}" deps)
string(REPLACE "\\\n" " " deps "${deps}")
string(REGEX REPLACE "^[^:]*:" "" deps "${deps}")
separate_arguments(deps UNIX_COMMAND "${deps}")
list(REMOVE_AT deps 0)

file(REMOVE_RECURSE "${OUTPUT}")
set(copied 0)
set(strangers "")
foreach(dep ${deps})
  get_filename_component(path "${dep}" ABSOLUTE)  # folds "dir/../" the way the compiler read it
  under("${path}" "${ROOTS}" root)
  if(path IN_LIST PUBLIC)
    continue()
  elseif(root)
    file(RELATIVE_PATH relative "${root}" "${path}")
    get_filename_component(folder "${OUTPUT}/${relative}" DIRECTORY)
    file(COPY "${path}" DESTINATION "${folder}")
    math(EXPR copied "${copied} + 1")
  else()
    under("${path}" "${OWN}" own)
    if(own)
      list(APPEND strangers "${path}")
    endif()
  endif()
endforeach()
if(strangers)
  list(JOIN strangers "\n  " strangers)
  message(FATAL_ERROR "windows_package_headers: the public headers include headers that do not ship:\n  ${strangers}")
endif()
message(STATUS "windows_package_headers: ${copied} third-party headers")
