# ONNX Runtime comes unpacked by scripts/setup.sh into third_party/onnxruntime.
set(TALVORO_ORT_DIR "${CMAKE_SOURCE_DIR}/third_party/onnxruntime" CACHE PATH "Unpacked ONNX Runtime")
if(NOT EXISTS "${TALVORO_ORT_DIR}/include/onnxruntime_c_api.h")
  message(FATAL_ERROR "ONNX Runtime is missing in ${TALVORO_ORT_DIR}: run scripts/setup.sh")
endif()
add_library(onnxruntime::onnxruntime SHARED IMPORTED GLOBAL)
set_target_properties(onnxruntime::onnxruntime PROPERTIES
  IMPORTED_LOCATION "${TALVORO_ORT_DIR}/lib/libonnxruntime.so.1"
  IMPORTED_SONAME "libonnxruntime.so.1"
  INTERFACE_INCLUDE_DIRECTORIES "${TALVORO_ORT_DIR}/include")
# Installed in a folder of its own, found by the program's relative RPATH (CMakeLists.txt):
# nothing system-wide, and the tree can be moved.
install(FILES "${TALVORO_ORT_DIR}/lib/libonnxruntime.so.1" DESTINATION ${TALVORO_PRIVATE_LIBDIR})
