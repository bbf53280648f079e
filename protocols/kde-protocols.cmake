# KDE's Wayland protocols kept in this folder (from KDE's plasma-wayland-protocols, each with its
# licence header), turned into C with wayland-scanner.
find_program(TALVORO_WAYLAND_SCANNER wayland-scanner REQUIRED)

# talvoro_kde_wayland_protocol(target name): adds the client code of protocols/<name>.xml to
# target; its header is <name>-client-protocol.h.
function(talvoro_kde_wayland_protocol target name)
  set(xml ${CMAKE_SOURCE_DIR}/protocols/${name}.xml)
  set(out ${CMAKE_BINARY_DIR}/protocols/kde)
  add_custom_command(
    OUTPUT ${out}/${name}-client-protocol.h ${out}/${name}-protocol.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${TALVORO_WAYLAND_SCANNER} client-header ${xml} ${out}/${name}-client-protocol.h
    COMMAND ${TALVORO_WAYLAND_SCANNER} private-code ${xml} ${out}/${name}-protocol.c
    DEPENDS ${xml} VERBATIM)
  target_sources(${target} PRIVATE ${out}/${name}-client-protocol.h ${out}/${name}-protocol.c)
  target_include_directories(${target} PRIVATE ${out})
endfunction()
