# Compiler options shared by every target of the project.
function(lumo_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${LUMO_WERROR}>:-Werror>
                                           $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
endfunction()

if(LUMO_SANITIZE)
  string(REPLACE ";" "," _lumo_sanitizers "${LUMO_SANITIZE}")
  add_compile_options(-fsanitize=${_lumo_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_lumo_sanitizers})
endif()

# Optimisation across files for what ships. The core's objects carry both machine code and GCC's
# intermediate form ("fat" objects): the programs and benchmarks marked with lumo_whole_program are
# optimised as one at their link (calls between the evaluator's files inline there), while the tests
# link the plain machine code as fast as before. Off for sanitizer, debug and non-GCC builds.
option(LUMO_LTO "Optimise the shipped programs across files (GCC, optimised builds)" ON)
set(LUMO_LTO_ACTIVE OFF)
if(LUMO_LTO AND NOT LUMO_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
   AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  set(LUMO_LTO_ACTIVE ON)
endif()

# Compiles a library's sources into fat objects, ready for lumo_whole_program.
function(lumo_lto_objects target)
  if(LUMO_LTO_ACTIVE)
    target_compile_options(${target} PRIVATE -flto=auto -ffat-lto-objects)
  endif()
endfunction()

# Compiles and links a program as one over the fat objects of the libraries it uses.
function(lumo_whole_program target)
  if(LUMO_LTO_ACTIVE)
    target_compile_options(${target} PRIVATE -flto=auto)
    target_link_options(${target} PRIVATE -flto=auto)
  endif()
endfunction()

# On x86-64, no branch may cross or end at a 32-byte boundary in optimised builds: cores that cache
# decoded instructions by 32-byte window otherwise run a loop whose branch falls on a boundary at a
# fraction of its speed, so that the speed of unchanged code would swing with unrelated changes.
include(CheckCXXCompilerFlag)
if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$"
   AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  check_cxx_compiler_flag("-Wa,-mbranches-within-32B-boundaries" LUMO_HAS_BRANCH_ALIGNMENT)
  if(LUMO_HAS_BRANCH_ALIGNMENT)
    add_compile_options(-Wa,-mbranches-within-32B-boundaries)
    add_link_options(-Wa,-mbranches-within-32B-boundaries)
  endif()
endif()
