# Warning flags for the project's own targets; -Werror in CI.
function(quelltrine_warnings target)
  # The fuzzers build with clang, which has no -Wshadow=local.
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
    -Wnon-virtual-dtor -Wcast-qual -Wformat=2 -Wimplicit-fallthrough)
  if(QUELLTRINE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(QUELLTRINE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
