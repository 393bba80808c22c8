# One warning set for every target of ours; CI turns it into errors.
add_library(tessaly_warnings INTERFACE)
target_compile_options(tessaly_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Wformat=2 -Wimplicit-fallthrough
  $<$<BOOL:${TESSALY_WERROR}>:-Werror>)
