# What `cmake --install` puts into a prefix. The installed program finds all of it from its own
# location (bin/ beside lib/talvoro and share/talvoro), so the tree may be moved, and it writes
# nothing there at run time.
set(TALVORO_PACKAGE_MAINTAINER "Talvoro maintainers <maintainers@talvoro.example>"
  CACHE STRING "Maintainer named in the Debian package and its changelog")
set(TALVORO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/talvoro)
set(TALVORO_GENERATED_DOC ${CMAKE_BINARY_DIR}/doc)

install(CODE "set(TALVORO_ENTRY_SOURCE \"${CMAKE_SOURCE_DIR}/data/org.talvoro.Talvoro.desktop\")
  set(TALVORO_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(TALVORO_DATADIR \"${CMAKE_INSTALL_DATADIR}\")")
install(SCRIPT ${CMAKE_SOURCE_DIR}/cmake/InstallDesktopEntry.cmake)
# Gives /dev/uinput, for the opt-in virtual keyboard, to the group talvoro-uinput only, which an
# administrator makes and adds the user to (udev reads lib/udev).
install(FILES ${CMAKE_SOURCE_DIR}/data/70-talvoro-uinput.rules DESTINATION lib/udev/rules.d)

# The icon is drawn by the program's own code at build time (tools/icons).
find_package(Qt6 6.4 REQUIRED COMPONENTS Svg)
add_executable(make_app_icons ${CMAKE_SOURCE_DIR}/tools/icons/make_app_icons.cpp)
target_link_libraries(make_app_icons PRIVATE talvoro_ui Qt6::Svg)
set(TALVORO_ICON_DIR ${CMAKE_BINARY_DIR}/share/icons)
set(TALVORO_ICON_FILES ${TALVORO_ICON_DIR}/hicolor/scalable/apps/talvoro.svg)
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND TALVORO_ICON_FILES ${TALVORO_ICON_DIR}/hicolor/${size}x${size}/apps/talvoro.png)
endforeach()
add_custom_command(OUTPUT ${TALVORO_ICON_FILES}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
    $<TARGET_FILE:make_app_icons> ${TALVORO_ICON_DIR}
  DEPENDS make_app_icons
  COMMENT "Drawing the application icons")
add_custom_target(talvoro_app_icons ALL DEPENDS ${TALVORO_ICON_FILES})
install(DIRECTORY ${TALVORO_ICON_DIR}/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# Documents: ours, the settings example, the manual page, and ONNX Runtime's licence and
# notices. Debian keeps manual pages and long documents gzipped (reproducibly: -n).
function(talvoro_gzipped source name destination)
  set(output ${TALVORO_GENERATED_DOC}/${name}.gz)
  get_filename_component(folder ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND gzip -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  set_property(GLOBAL APPEND PROPERTY TALVORO_DOC_OUTPUTS ${output})
  install(FILES ${output} DESTINATION ${destination})
endfunction()
function(talvoro_gzipped_doc source name)
  get_filename_component(subfolder ${name} DIRECTORY)
  talvoro_gzipped(${source} ${name} ${TALVORO_DOC_DIR}/${subfolder})
endfunction()

configure_file(${CMAKE_SOURCE_DIR}/data/changelog.in ${TALVORO_GENERATED_DOC}/changelog @ONLY)
talvoro_gzipped_doc(${TALVORO_GENERATED_DOC}/changelog changelog)
talvoro_gzipped_doc(${CMAKE_SOURCE_DIR}/README.md README.md)
configure_file(${CMAKE_SOURCE_DIR}/data/talvoro.1 ${TALVORO_GENERATED_DOC}/man/talvoro.1 @ONLY)
talvoro_gzipped(${TALVORO_GENERATED_DOC}/man/talvoro.1 man/talvoro.1 ${CMAKE_INSTALL_MANDIR}/man1)
# A runtime unpacked by an older setup script lacks its licence texts: building still works,
# installing says what to do.
if(EXISTS ${TALVORO_ORT_DIR}/LICENSE AND EXISTS ${TALVORO_ORT_DIR}/ThirdPartyNotices.txt)
  talvoro_gzipped_doc(${TALVORO_ORT_DIR}/ThirdPartyNotices.txt onnxruntime/ThirdPartyNotices.txt)
  install(FILES ${TALVORO_ORT_DIR}/LICENSE DESTINATION ${TALVORO_DOC_DIR}/onnxruntime)
else()
  message(WARNING "ONNX Runtime's licence texts are missing in ${TALVORO_ORT_DIR}: "
    "run scripts/setup.sh before installing or packaging")
  install(CODE "message(FATAL_ERROR \"ONNX Runtime's licence texts are missing in ${TALVORO_ORT_DIR}: run scripts/setup.sh\")")
endif()
get_property(doc_outputs GLOBAL PROPERTY TALVORO_DOC_OUTPUTS)
add_custom_target(talvoro_docs ALL DEPENDS ${doc_outputs})
install(FILES ${CMAKE_SOURCE_DIR}/data/copyright DESTINATION ${TALVORO_DOC_DIR})
# Not read by the program from here: a settings resource in share/talvoro would be the first
# settings file found and would hide the user's own ~/.config/vendrik/.env.
install(FILES ${CMAKE_SOURCE_DIR}/data/dictation.env DESTINATION ${TALVORO_DOC_DIR}/examples)
# Known findings of Debian's package checker, each with its reason.
install(FILES ${CMAKE_SOURCE_DIR}/data/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME talvoro)
