# kx_generate_from_manifest(WHAT MANIFEST OUTPUT): a build rule that runs
# generate.py WHAT (exports, pipe-table) on an export manifest.
if(NOT COMMAND kx_generate_from_manifest)
  find_package(Python3 3.11 REQUIRED COMPONENTS Interpreter GLOBAL)  # tomllib; visible in every folder
  set(KX_MANIFEST_GENERATOR ${CMAKE_CURRENT_LIST_DIR}/generate.py CACHE INTERNAL "")
  set(KX_MANIFEST_READER ${CMAKE_CURRENT_LIST_DIR}/../../python/kxpre/_manifest.py CACHE INTERNAL "")
  function(kx_generate_from_manifest what manifest output)
    add_custom_command(OUTPUT ${output}
      COMMAND Python3::Interpreter ${KX_MANIFEST_GENERATOR} ${what} ${manifest} ${output}
      DEPENDS ${KX_MANIFEST_GENERATOR} ${KX_MANIFEST_READER} ${manifest}
      COMMENT "Generating ${output} from the export manifest"
      VERBATIM)
  endfunction()
endif()
