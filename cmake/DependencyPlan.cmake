# The module plan, checked on every #include of every module folder. Included from the
# top-level CMakeLists.txt it fails the configure and adds the target `dependency_plan`,
# which repeats the check on every build; `cmake -DFENNICK_PLAN_ROOT=<dir> -P` runs it alone.
#
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

# What each module may include besides its own folder. A file belongs to the longest module
# folder that prefixes its path (ant/binding/ is part of ant). Dependencies point downward:
# app > device > ant, ant/channels, ant/profiles, maps > persist > platform > framework;
# history (the calibration history store) sits beside persist and is used by app alone.
# discovery (finding devices on the air) sits beside device; settings (writing the settings
# file) sits on platform; both are used by app alone.
# ant and ant/channels are one layer and use each other; ant/profiles and maps use nothing of
# that layer. The ANT library (antlib), the virtual stick (antsim) and the wire both speak
# (antwire) know nothing of the application. Nothing includes app/.
set(FENNICK_MODULE_PLAN
  "app          : device discovery settings ant ant/channels ant/profiles maps history persist platform framework"
  "discovery    : ant ant/channels ant/profiles persist platform framework"
  "settings     : platform framework"
  "device       : ant ant/channels ant/profiles maps persist platform framework"
  "ant          : ant/channels ant/profiles maps persist platform framework"
  "ant/channels : ant ant/profiles maps persist platform framework"
  "ant/profiles : persist platform framework"
  "maps         : persist platform framework"
  "persist      : platform framework"
  "history      : platform framework"
  "platform     : framework"
  "framework    :"
  "antwire      :"
  "antsim       : antwire"
  "antlib       : antwire"
)

# Narrower places with a wider allowance: a path prefix and the modules or single headers
# its files may include on top of their module's.
set(FENNICK_PLAN_EXTRAS
  # The binding takes the function types from the library's C header; it never links it.
  "ant/binding/                : antlib/ant_dll.h"
  # The slot that the FENNICK_VIRTUAL_STICK variant of the library links the stick into.
  "antlib/VirtualStickSlot.cpp : antsim"
)

# Modules that must not include Qt headers.
set(FENNICK_QT_FREE_MODULES framework antwire antlib antsim settings)

# Includes that break the plan today and are on their way out. Each entry is
# "<file> -> <included path>"; the list is to be emptied, never extended.
set(FENNICK_PLAN_KNOWN_EXCEPTIONS)

# Splits "key : a b c" into <prefix>_key and <prefix>_values.
macro(_fennick_plan_split entry prefix)
  string(REGEX MATCH "^([^:]*):(.*)$" _fennick_match "${entry}")
  string(STRIP "${CMAKE_MATCH_1}" ${prefix}_key)
  string(STRIP "${CMAKE_MATCH_2}" ${prefix}_values)
  string(REGEX REPLACE "[ \t]+" ";" ${prefix}_values "${${prefix}_values}")
endmacro()

# The longest of `candidates` that is `path` itself or a folder prefix of it, or "".
function(_fennick_plan_owner path candidates out)
  set(best "")
  foreach(c IN LISTS candidates)
    string(LENGTH "${c}" n)
    string(LENGTH "${best}" b)
    if(n GREATER b)
      string(REGEX REPLACE "/$" "" folder "${c}")
      if(path STREQUAL folder OR path MATCHES "^${folder}/")
        set(best "${c}")
      endif()
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

# 1-based line of the first occurrence of `text` in `file`.
function(_fennick_plan_line file text out)
  file(READ "${file}" content)
  string(FIND "${content}" "${text}" pos)
  string(SUBSTRING "${content}" 0 ${pos} before)
  string(REGEX MATCHALL "\n" newlines "${before}")
  list(LENGTH newlines n)
  math(EXPR n "${n} + 1")
  set(${out} ${n} PARENT_SCOPE)
endfunction()

function(fennick_check_dependency_plan root)
  set(modules "")
  foreach(entry IN LISTS FENNICK_MODULE_PLAN)
    _fennick_plan_split("${entry}" plan)
    list(APPEND modules "${plan_key}")
    set("allow_${plan_key}" ${plan_values})
  endforeach()
  set(extras "")
  foreach(entry IN LISTS FENNICK_PLAN_EXTRAS)
    _fennick_plan_split("${entry}" plan)
    list(APPEND extras "${plan_key}")
    set("extra_${plan_key}" ${plan_values})
  endforeach()

  set(globs "")
  foreach(m IN LISTS modules)
    list(APPEND globs ${root}/${m}/*.h ${root}/${m}/*.hpp ${root}/${m}/*.c ${root}/${m}/*.cpp)
  endforeach()
  file(GLOB_RECURSE files RELATIVE ${root} ${globs})
  list(REMOVE_DUPLICATES files)
  list(SORT files)

  set(violations "")
  set(unused_exceptions ${FENNICK_PLAN_KNOWN_EXCEPTIONS})
  foreach(f IN LISTS files)
    _fennick_plan_owner("${f}" "${modules}" from)
    set(allowed ${allow_${from}})
    foreach(extra IN LISTS extras)
      _fennick_plan_owner("${f}" "${extra}" hit)
      if(hit)
        list(APPEND allowed ${extra_${extra}})
      endif()
    endforeach()
    get_filename_component(dir "${f}" DIRECTORY)

    file(STRINGS ${root}/${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
        continue()
      endif()
      set(included "${CMAKE_MATCH_2}")
      set(rule "")
      if(included MATCHES "^Q[A-Za-z]*$|^Qt[A-Za-z]*/")
        if(from IN_LIST FENNICK_QT_FREE_MODULES)
          set(rule "${from}/ must not include Qt")
        endif()
      elseif(CMAKE_MATCH_1 STREQUAL "\"" AND EXISTS ${root}/${dir}/${included}
             AND NOT EXISTS ${root}/${included})
        # A neighbour in the same folder.
      else()
        _fennick_plan_owner("${included}" "${modules}" to)
        if(to AND NOT to STREQUAL from AND NOT to IN_LIST allowed AND NOT included IN_LIST allowed)
          set(may "")
          foreach(a IN LISTS allowed)
            if(a IN_LIST modules)
              list(APPEND may "${a}/")
            else()
              list(APPEND may "${a}")
            endif()
          endforeach()
          if(may)
            list(JOIN may ", " may)
            set(rule "${from}/ may include only ${may} besides itself")
          else()
            set(rule "${from}/ may include nothing outside itself")
          endif()
        endif()
      endif()
      if(rule)
        if("${f} -> ${included}" IN_LIST FENNICK_PLAN_KNOWN_EXCEPTIONS)
          list(REMOVE_ITEM unused_exceptions "${f} -> ${included}")
        else()
          _fennick_plan_line(${root}/${f} "${line}" n)
          string(STRIP "${line}" shown)
          list(APPEND violations "  ${f}:${n}: ${shown}\n    rule: ${rule}\n")
        endif()
      endif()
    endforeach()
  endforeach()

  foreach(stale IN LISTS unused_exceptions)
    message(WARNING "Dependency plan: known exception \"${stale}\" is no longer needed; "
                    "remove it from cmake/DependencyPlan.cmake.")
  endforeach()
  if(violations)
    list(JOIN violations "" text)
    message(FATAL_ERROR "Includes that the module plan (cmake/DependencyPlan.cmake) forbids:\n"
                        "${text}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  fennick_check_dependency_plan(${FENNICK_PLAN_ROOT})
else()
  fennick_check_dependency_plan(${PROJECT_SOURCE_DIR})
  add_custom_target(dependency_plan ALL
    COMMAND ${CMAKE_COMMAND} -DFENNICK_PLAN_ROOT=${PROJECT_SOURCE_DIR}
            -P ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Checking includes against the module plan"
    VERBATIM)
endif()
