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
