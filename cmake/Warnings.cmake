# One warning level for every target of the project.
option(SELFEX_WERROR "Treat warnings as errors" OFF)

function(selfex_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion
                                           -Wno-unused-parameter)
  if(SELFEX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
