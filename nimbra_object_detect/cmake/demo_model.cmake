# The demo segmentation model (config/demo_model.yaml): a YOLOv8-seg graph with hand-set weights
# that finds the objects of the demo world by their colours, written at build time by the demo
# scene's generator from the demo scene's palette, the one table of colours and classes that the
# demo world's renderer is built from too. Installed as share/${PROJECT_NAME}/config/models/
# demo_model.onnx beside the description.
#
# For tests in the build tree: NIMBRA_DEMO_MODEL_DESCRIPTION names a copy of the description in
# ${CMAKE_CURRENT_BINARY_DIR}/config/ whose model_file resolves to the generated network.

set(NIMBRA_DEMO_SCENE_SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/../tools/nimbra_demo_scene
  CACHE PATH "Source directory of nimbra_demo_scene (palette and demo model generator)")
set(demo_palette ${NIMBRA_DEMO_SCENE_SOURCE_DIR}/config/demo_palette.csv)
set(demo_generator ${NIMBRA_DEMO_SCENE_SOURCE_DIR}/scripts/generate_demo_model.py)
if(NOT EXISTS ${demo_palette} OR NOT EXISTS ${demo_generator})
  message(FATAL_ERROR "demo model: no palette or generator under ${NIMBRA_DEMO_SCENE_SOURCE_DIR}; "
    "set NIMBRA_DEMO_SCENE_SOURCE_DIR to the nimbra_demo_scene source directory")
endif()
# Debian's onnx module belongs to the system interpreter.
set(DEMO_MODEL_PYTHON /usr/bin/python3 CACHE FILEPATH "Python with the onnx module")

set(demo_description ${CMAKE_CURRENT_SOURCE_DIR}/config/demo_model.yaml)
set(demo_model_dir ${CMAKE_CURRENT_BINARY_DIR}/config/models)
set(NIMBRA_DEMO_MODEL_DESCRIPTION ${CMAKE_CURRENT_BINARY_DIR}/config/demo_model.yaml)
add_custom_command(
  OUTPUT ${demo_model_dir}/demo_model.onnx ${NIMBRA_DEMO_MODEL_DESCRIPTION}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${demo_model_dir}
  COMMAND ${DEMO_MODEL_PYTHON} ${demo_generator} --palette ${demo_palette}
          --check-description ${demo_description} --output ${demo_model_dir}/demo_model.onnx
  COMMAND ${CMAKE_COMMAND} -E copy ${demo_description} ${NIMBRA_DEMO_MODEL_DESCRIPTION}
  DEPENDS ${demo_generator} ${demo_palette} ${demo_description}
  COMMENT "Generating the demo segmentation model")
add_custom_target(${PROJECT_NAME}_demo_model ALL
  DEPENDS ${demo_model_dir}/demo_model.onnx ${NIMBRA_DEMO_MODEL_DESCRIPTION})
install(FILES ${demo_model_dir}/demo_model.onnx DESTINATION share/${PROJECT_NAME}/config/models)
