# Model files come from our own generators in tools/models and are never committed.
set(TALVORO_PYTHON /usr/bin/python3 CACHE FILEPATH "Python with Debian's onnx and numpy")
set(TALVORO_MODEL_TOOLS ${CMAKE_SOURCE_DIR}/tools/models)

# The preprocessor ships with the program: built into the build tree's data folder and
# installed beside the executable's data.
set(TALVORO_PREPROCESSOR_MODEL ${TALVORO_DATA_DIR}/models/gigaam-v3-preprocessor.onnx)
add_custom_command(OUTPUT ${TALVORO_PREPROCESSOR_MODEL}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TALVORO_DATA_DIR}/models
  COMMAND ${TALVORO_PYTHON} ${TALVORO_MODEL_TOOLS}/make_preprocessor.py ${TALVORO_PREPROCESSOR_MODEL}
  DEPENDS ${TALVORO_MODEL_TOOLS}/make_preprocessor.py
  COMMENT "Generating gigaam-v3-preprocessor.onnx")
add_custom_target(talvoro_preprocessor_model ALL DEPENDS ${TALVORO_PREPROCESSOR_MODEL})
install(FILES ${TALVORO_PREPROCESSOR_MODEL} DESTINATION ${CMAKE_INSTALL_DATADIR}/talvoro/models)

# A small model folder with the real interface and known behaviour, for the tests that need
# one (add_dependencies(<test> talvoro_test_model)); see make_test_model.py for what it hears.
# Beside it, gigaam-newer holds the same model as GigaAM's current export names it.
set(TALVORO_TEST_MODEL_DIR ${CMAKE_BINARY_DIR}/test-models/gigaam)
set(TALVORO_TEST_MODEL_FILES
  ${TALVORO_TEST_MODEL_DIR}/gigaam-v3-encoder.onnx
  ${TALVORO_TEST_MODEL_DIR}/gigaam-v3-decoder.onnx
  ${TALVORO_TEST_MODEL_DIR}/gigaam-v3-joint.onnx
  ${TALVORO_TEST_MODEL_DIR}/gigaam-v3-vocab.txt
  ${TALVORO_TEST_MODEL_DIR}/gigaam-v3-preprocessor.onnx
  ${TALVORO_TEST_MODEL_DIR}/manifest.txt
  ${TALVORO_TEST_MODEL_DIR}-newer/gigaam-v3-decoder.onnx)
add_custom_command(OUTPUT ${TALVORO_TEST_MODEL_FILES}
  COMMAND ${TALVORO_PYTHON} ${TALVORO_MODEL_TOOLS}/make_test_model.py ${TALVORO_TEST_MODEL_DIR}
    ${TALVORO_TEST_MODEL_DIR}-newer
  COMMAND ${TALVORO_PYTHON} ${TALVORO_MODEL_TOOLS}/make_preprocessor.py
    ${TALVORO_TEST_MODEL_DIR}/gigaam-v3-preprocessor.onnx
  DEPENDS ${TALVORO_MODEL_TOOLS}/make_test_model.py ${TALVORO_MODEL_TOOLS}/make_preprocessor.py
  COMMENT "Generating the test model in ${TALVORO_TEST_MODEL_DIR}")
add_custom_target(talvoro_test_model DEPENDS ${TALVORO_TEST_MODEL_FILES})

# The full-size stand-in for benchmarks (about 240 MB), by hand: `ninja talvoro_bench_model`.
# Benchmarks make it themselves when it is missing (bench/bench_model.h) rather than depend on
# this target, which would put a minute of generation into every full build.
set(TALVORO_BENCH_MODEL_DIR ${CMAKE_BINARY_DIR}/bench-models/gigaam)
set(TALVORO_BENCH_MODEL_FILES
  ${TALVORO_BENCH_MODEL_DIR}/gigaam-v3-encoder.onnx
  ${TALVORO_BENCH_MODEL_DIR}/gigaam-v3-decoder.onnx
  ${TALVORO_BENCH_MODEL_DIR}/gigaam-v3-joint.onnx
  ${TALVORO_BENCH_MODEL_DIR}/gigaam-v3-vocab.txt
  ${TALVORO_BENCH_MODEL_DIR}/gigaam-v3-preprocessor.onnx)
add_custom_command(OUTPUT ${TALVORO_BENCH_MODEL_FILES}
  COMMAND ${TALVORO_PYTHON} ${TALVORO_MODEL_TOOLS}/make_bench_model.py ${TALVORO_BENCH_MODEL_DIR}
  COMMAND ${TALVORO_PYTHON} ${TALVORO_MODEL_TOOLS}/make_preprocessor.py
    ${TALVORO_BENCH_MODEL_DIR}/gigaam-v3-preprocessor.onnx
  DEPENDS ${TALVORO_MODEL_TOOLS}/make_bench_model.py ${TALVORO_MODEL_TOOLS}/make_preprocessor.py
  COMMENT "Generating the benchmark model in ${TALVORO_BENCH_MODEL_DIR}")
add_custom_target(talvoro_bench_model DEPENDS ${TALVORO_BENCH_MODEL_FILES})
