# The generated models (scripts/models/generate.sh) in the layout the library
# looks for: a "files" folder beside each program. qs_place_models(target)
# links that folder, and the recognizer's test audio, beside a target.
set(QS_MODELS_DIR "${PROJECT_SOURCE_DIR}/.cache/models" CACHE PATH "Generated models")

function(qs_place_models target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E create_symlink "${QS_MODELS_DIR}/files" "$<TARGET_FILE_DIR:${target}>/files"
    COMMAND ${CMAKE_COMMAND} -E create_symlink "${QS_MODELS_DIR}/testdata" "$<TARGET_FILE_DIR:${target}>/testdata"
    VERBATIM)
endfunction()
