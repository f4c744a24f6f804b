# What keeps a cold build short: the mold linker when it is there, and the Qt headers
# compiled once per tree instead of once per source.
#
# A precompiled header is only used with the flags it was made with, so it is made by a small
# target of its own and reused by every target that compiles with Qt Widgets: the recorder's
# code and its tests alike (googletest's and QtTest's macros do not touch these headers).
# kelvo_precompile_headers() finds those targets below a folder, so a new target needs
# nothing. A target whose own flags differ (the compiler says the header is "not used
# because" of them) goes without:
#   set_target_properties(name PROPERTIES KELVO_PCH OFF)

option(KELVO_MOLD "Link with mold when it is installed" ON)
option(KELVO_PCH "Precompile the Qt headers" ON)

if(KELVO_MOLD)
  find_program(KELVO_MOLD_PROGRAM mold)
  if(KELVO_MOLD_PROGRAM)
    include(CheckLinkerFlag)
    check_linker_flag(CXX -fuse-ld=mold KELVO_LINKER_MOLD_WORKS)
    if(KELVO_LINKER_MOLD_WORKS)
      add_link_options(-fuse-ld=mold)
    endif()
  endif()
endif()

# ccache leaves every source that uses a precompiled header uncached unless it is told that
# the header's macros and time stamps are accounted for (it hashes the header itself).
if(KELVO_PCH AND CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache")
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env
    CCACHE_SLOPPINESS=pch_defines,time_macros ${CMAKE_CXX_COMPILER_LAUNCHER})
endif()

# Headers that many sources include. Each one costs every source the time of loading it,
# so rarely used ones stay out; so does googletest, which would save less than it costs.
set(KELVO_PCH_HEADERS <algorithm> <array> <chrono> <cstdint> <cstring> <functional> <memory>
  <optional> <string> <utility> <vector>
  <QApplication> <QCheckBox> <QComboBox> <QDir> <QFile> <QLineEdit> <QObject> <QString>
  <QTemporaryDir> <QTimer> <QWidget>)

# kelvo_links(result target item): whether the target compiles with the item (an imported
# target such as Qt6::Widgets), linked directly or passed on by a library it links.
function(kelvo_links result target item)
  get_target_property(links ${target} LINK_LIBRARIES)
  kelvo_links_any(found "${links}" ${item} 0)
  set(${result} ${found} PARENT_SCOPE)
endfunction()

# depth: libraries may link each other in a circle; the search ends there.
function(kelvo_links_any result links item depth)
  set(found NO)
  math(EXPR deeper "${depth} + 1")
  foreach(link IN LISTS links)
    if(link STREQUAL item)
      set(found YES)
    elseif(TARGET ${link} AND depth LESS 16)
      get_target_property(imported ${link} IMPORTED)
      get_target_property(passed ${link} INTERFACE_LINK_LIBRARIES)
      # $<LINK_ONLY:...> entries are the library's private links: no headers, no flags.
      if(NOT imported AND passed)
        kelvo_links_any(found "${passed}" ${item} ${deeper})
      endif()
    endif()
    if(found)
      break()
    endif()
  endforeach()
  set(${result} ${found} PARENT_SCOPE)
endfunction()

# kelvo_precompile_headers(folder...): every target defined in or below the folders.
function(kelvo_precompile_headers)
  if(NOT KELVO_PCH)
    return()
  endif()
  foreach(folder IN LISTS ARGN)
    get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      get_target_property(wanted ${target} KELVO_PCH)
      get_target_property(sources ${target} SOURCES)
      list(FILTER sources INCLUDE REGEX "\\.cpp$")
      if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|EXECUTABLE)$"
          OR wanted STREQUAL "OFF" OR NOT sources)
        continue()
      endif()
      kelvo_links(qt ${target} Qt6::Widgets)
      if(qt)
        if(NOT TARGET kelvo_pch)
          set(source ${CMAKE_BINARY_DIR}/kelvo_pch.cpp)
          file(CONFIGURE OUTPUT ${source} CONTENT "// Makes the precompiled headers.\n")
          # Qt asks for -fPIC everywhere, programs included, so libraries and programs agree.
          add_library(kelvo_pch STATIC ${source})
          target_link_libraries(kelvo_pch PRIVATE Qt6::Widgets)
          set_target_properties(kelvo_pch PROPERTIES AUTOMOC OFF)
          target_precompile_headers(kelvo_pch PRIVATE ${KELVO_PCH_HEADERS})
        endif()
        target_precompile_headers(${target} REUSE_FROM kelvo_pch)
      endif()
    endforeach()
    get_property(below DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
    if(below)
      kelvo_precompile_headers(${below})
    endif()
  endforeach()
endfunction()
