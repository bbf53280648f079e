# Wayland protocols kept in this folder (each with its licence header: wlroots' data control and
# virtual keyboard, wayland-protocols' ext data control, KDE's fake input), turned into C with
# wayland-scanner.
find_program(TALVORO_WAYLAND_SCANNER wayland-scanner REQUIRED)

# talvoro_wayland_protocol(target name): adds the client code of protocols/<name>.xml to target;
# its header is <name>-client-protocol.h.
function(talvoro_wayland_protocol target name)
  set(xml ${CMAKE_SOURCE_DIR}/protocols/${name}.xml)
  set(out ${CMAKE_BINARY_DIR}/protocols)
  add_custom_command(
    OUTPUT ${out}/${name}-client-protocol.h ${out}/${name}-protocol.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${TALVORO_WAYLAND_SCANNER} client-header ${xml} ${out}/${name}-client-protocol.h
    COMMAND ${TALVORO_WAYLAND_SCANNER} private-code ${xml} ${out}/${name}-protocol.c
    DEPENDS ${xml} VERBATIM)
  target_sources(${target} PRIVATE ${out}/${name}-client-protocol.h ${out}/${name}-protocol.c)
  target_include_directories(${target} PRIVATE ${out})
endfunction()
