# Writes the façade's declarations out of the operation table: for every OSTREL_OP and OSTREL_OP2
# line of ostrel/api/operations.def, the declaration of Ostrel::Name with the façade's parameters,
# preceded by the `///` comment lines written directly above that line in the table. The result is
# the header ostrel/api/facade.h, which ostrel/api/ostrel.h includes and which is installed beside
# it, so that a reader, an editor and the reference see each operation with its comment while the
# table stays the one list. Only CMake runs here: the generator works wherever the build
# configures (native, the mingw cross build, the install test).
#
#   include(cmake/facade_header.cmake)
#   ostrel_write_facade_header(<operations.def> <facade.h>)
#
# or as a script: cmake -DDEF=<operations.def> -DOUT=<facade.h> -P cmake/facade_header.cmake
#
# The header is rewritten only when its text changes, so an unchanged table rebuilds nothing.
# A line that starts with OSTREL_OP but does not parse stops the configure with its text.

function(ostrel_write_facade_header def out)
  file(READ "${def}" text)
  # One list element per line: semicolons and square brackets in comments would otherwise split
  # or join elements, so they travel as placeholders and come back on output.
  string(REPLACE ";" "@OSTREL_SEMICOLON@" text "${text}")
  string(REPLACE "[" "@OSTREL_LBRACKET@" text "${text}")
  string(REPLACE "]" "@OSTREL_RBRACKET@" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")

  set(word "[A-Za-z_][A-Za-z_0-9]*")
  set(group "\\([^()]*\\)")
  set(body "")
  set(comment "")
  set(count 0)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" stripped)
    if(stripped MATCHES "^///")
      string(APPEND comment "${stripped}\n")
    elseif(stripped MATCHES "^OSTREL_OP2?\\(")
      if(stripped MATCHES "^OSTREL_OP\\(([^,]+), (${word}), (${word}), (${group}), (${group})\\)$")
        set(result "${CMAKE_MATCH_1}")
        set(name "${CMAKE_MATCH_2}")
        set(params "${CMAKE_MATCH_4}")
      elseif(stripped MATCHES "^OSTREL_OP2\\(([^,]+), (${word}), (${word}), (${group}), (${group}), (${group})\\)$")
        set(result "${CMAKE_MATCH_1}")
        set(name "${CMAKE_MATCH_2}")
        set(params "${CMAKE_MATCH_4}")
      else()
        message(FATAL_ERROR "${def}: cannot read the operation line\n  ${stripped}")
      endif()
      string(APPEND body "\n${comment}OSTREL_EXPORT ${result} ${name}${params};\n")
      set(comment "")
      math(EXPR count "${count} + 1")
    else()
      # Any other line (a section heading, a blank line, a preprocessor line) ends a comment
      # that did not reach an operation: it belonged to something else.
      set(comment "")
    endif()
  endforeach()

  set(header "/// @file
/// The façade: the declaration of every exported operation, each with its comment.
///
/// Written out of ostrel/api/operations.def when the build is configured
/// (cmake/facade_header.cmake): edit the comments in the table, not here. Included by
/// ostrel/api/ostrel.h, whose forward declarations it uses; include that header.
#pragma once

/// The façade: the ${count} exported operations that an application calls.
///
/// Each operation calls its slot in OstrelFunc, which by default holds its default
/// implementation in OstrelOrigin; an empty slot makes the operation throw
/// boost::bad_function_call.
///
/// Server and position. Most operations end with `server` and `position`, both of which may be
/// null. A null or empty `server` is the default server, the one the middleware's settings place
/// at position \"own\"; a null `position` is the server's default position (DivertReleam), the
/// server's default realm unless diverted.
///
/// Result codes. An `int` result is 0 on success. An operation whose codes include 2015 begins
/// with the connection guard: 2015 when the server is not connected (ConnectTarn), with nothing
/// else done. The library's own codes are listed in
/// result_codes.h; any other code (2000-2999) is the middleware's, passed on unchanged.
/// GetErrorString gives the text of every code. Failures are codes, never exceptions, except
/// boost::bad_function_call (an empty slot) and std::bad_alloc.
///
/// Who frees what. The caller owns every record and result list it passes; an operation that
/// fills a list allocates its contents, and only the matching Destory or Deatory operation
/// releases them. A filler overwrites the list, so release a list before filling it again.
///
/// Threads. Any number of threads may call operations at once; a record or list is used by one
/// thread at a time. ExitOstrel is the exception: once, from one thread, at the end.
namespace Ostrel {
${body}
}  // namespace Ostrel
")
  string(REPLACE "@OSTREL_SEMICOLON@" ";" header "${header}")
  string(REPLACE "@OSTREL_LBRACKET@" "[" header "${header}")
  string(REPLACE "@OSTREL_RBRACKET@" "]" header "${header}")
  file(WRITE "${out}.tmp" "${header}")
  configure_file("${out}.tmp" "${out}" COPYONLY)
  file(REMOVE "${out}.tmp")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEF AND OUT)
  ostrel_write_facade_header("${DEF}" "${OUT}")
endif()
